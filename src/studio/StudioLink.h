// Where the network thread and the frame loop meet. The frame loop publishes
// the show (after each change) and the state (every frame); the network
// thread reads them and queues commands, which the frame loop applies
// between two frames. Neither side ever waits long for the other: a
// publication or a read is a copy under a lock, and a request waits for its
// command's answer at most CommandDeadline.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "studio/StudioApi.h"

class StudioLink : public StudioHost {
 public:
  // A frame loop that has not taken a command in this long is stuck (or
  // still loading the show); the request gets 503 rather than hanging.
  static constexpr std::chrono::seconds CommandDeadline{5};

  // --- The network thread's side ---
  std::shared_ptr<const StudioView> View() const override;
  // The last frame's state, moved on by the time since while playing
  // (StateAfter), so that a slow frame loop still gives a moving playhead.
  StudioState State() const override;
  StudioResult Run(StudioCommand command) override;

  // --- The frame loop's side ---
  void PublishView(std::shared_ptr<const StudioView> view);
  // Called right after each frame is presented, with the state it shows.
  // With DEMO_STUDIO_FRAME_LOG set in the environment it also writes a line
  // on stderr per frame, for measuring how soon a change reaches the screen:
  //   demo: studio: frame v=VERSION row=ROW t=SECONDS
  // t is the steady clock (CLOCK_MONOTONIC on Linux, as Python's
  // time.monotonic()); bench/studio_latency.sh reads these lines.
  void PublishState(const StudioState& state);
  // Applies every queued command, in the order they came, through apply.
  void ServeCommands(const std::function<StudioResult(const StudioCommand&)>& apply);
  // From now on every command is answered with 503 at once: the show is
  // ending and no frame loop will take them.
  void Close();

 private:
  struct Pending {
    StudioCommand command;
    StudioResult result;
    bool taken = false;
    bool done = false;
  };

  mutable std::mutex mutex_;
  std::condition_variable answered_;
  std::shared_ptr<const StudioView> view_;
  StudioState state_;
  std::optional<std::chrono::steady_clock::time_point> statePublished_;
  std::deque<std::shared_ptr<Pending>> queue_;
  bool closed_ = false;
  const bool logFrames_ = LogFramesAsked();

  static bool LogFramesAsked();
};
