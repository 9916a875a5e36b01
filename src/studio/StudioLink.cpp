#include "studio/StudioLink.h"

#include <algorithm>

std::shared_ptr<const StudioView> StudioLink::View() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return view_;
}

StudioState StudioLink::State() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_;
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
  std::lock_guard<std::mutex> lock(mutex_);
  state_ = state;
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
