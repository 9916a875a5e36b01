// The studio's HTTP server: Boost.Beast over Asio on a thread of its own,
// listening on 127.0.0.1 only. Each request is read whole (its body at most
// MostStudioBodyBytes) and answered by HandleStudioRequest; GET /api/events
// stays open and gets what a StudioEventFeed gives every EventInterval.
//
// This is the one file that includes Beast: it is the slowest to compile of
// the program, and each build compiles it once.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "studio/StudioApi.h"

class StudioServer {
 public:
  // 25 looks a second: the state reaches the page at least 20 times a
  // second while the show plays, however long a write takes.
  static constexpr std::chrono::milliseconds EventInterval{40};

  StudioServer();
  ~StudioServer();  // Stop
  StudioServer(const StudioServer&) = delete;
  StudioServer& operator=(const StudioServer&) = delete;

  // Listens on 127.0.0.1:port (0: a free port the system picks) and serves
  // host with the token. False with the reason when the port cannot be had.
  bool Start(uint16_t port, StudioHost& host, const std::string& token, std::string& why);
  // Reads the music file at path in the background for GET /api/waveform
  // and GET /api/beats, which answer 503 until it is read (MusicAnalysis.h).
  // Only after Start, and once per Start.
  void ReadMusic(const std::string& path);
  // The port it listens on (0 before Start).
  uint16_t Port() const;
  // Closes every connection and ends the thread, and cancels a reading of
  // the music still under way. A request waiting for the host keeps the
  // thread until the host answers it (StudioLink::Close answers them all at
  // once).
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
