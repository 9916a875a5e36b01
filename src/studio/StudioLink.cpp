#include "studio/StudioLink.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

std::shared_ptr<const StudioView> StudioLink::View() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return view_;
}

StudioState StudioLink::State() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!statePublished_) return state_;
  return StateAfter(state_, std::chrono::duration<double>(std::chrono::steady_clock::now() - *statePublished_).count());
}

StudioResult StudioLink::Run(StudioCommand command) {
  auto pending = std::make_shared<Pending>();
  pending->command = std::move(command);
  std::unique_lock<std::mutex> lock(mutex_);
  if (closed_) return {503, ErrorJson("the show is ending")};
  queue_.push_back(pending);
  if (!answered_.wait_for(lock, CommandDeadline, [&] { return pending->done; })) {
    // Not taken yet: it never will be, so the answer is the truth. One the
    // frame loop is applying now is waited for: it takes a moment, and
    // answering before it would say "not done" of a change that is made.
    if (!pending->taken) {
      queue_.erase(std::find(queue_.begin(), queue_.end(), pending));
      return {503, ErrorJson("the demo did not take the request in time (still loading, or stuck)")};
    }
    answered_.wait(lock, [&] { return pending->done; });
  }
  return pending->result;
}

void StudioLink::PublishView(std::shared_ptr<const StudioView> view) {
  std::lock_guard<std::mutex> lock(mutex_);
  view_ = std::move(view);
}

void StudioLink::PublishState(const StudioState& state) {
  if (logFrames_) {
    const double now = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    // One unbuffered write per frame: a few microseconds, and only when asked for.
    std::fprintf(stderr, "demo: studio: frame v=%llu row=%.3f t=%.6f\n", static_cast<unsigned long long>(state.version),
                 state.row, now);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  state_ = state;
  statePublished_ = std::chrono::steady_clock::now();
}

bool StudioLink::LogFramesAsked() {
  const char* asked = std::getenv("DEMO_STUDIO_FRAME_LOG");
  return asked && *asked && std::string(asked) != "0";
}

void StudioLink::ServeCommands(const std::function<StudioResult(const StudioCommand&)>& apply) {
  for (;;) {
    std::shared_ptr<Pending> pending;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (queue_.empty()) return;
      pending = queue_.front();
      queue_.pop_front();
      pending->taken = true;
    }
    StudioResult result = apply(pending->command);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      pending->result = std::move(result);
      pending->done = true;
    }
    answered_.notify_all();
  }
}

void StudioLink::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = true;
  for (const std::shared_ptr<Pending>& pending : queue_) {
    pending->result = {503, ErrorJson("the show is ending")};
    pending->done = true;
  }
  queue_.clear();
  answered_.notify_all();
}
