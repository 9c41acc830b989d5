#include "host/call_queue_relay.h"

#include <string>

namespace {
// The relay whose task the calling host thread is running, if any.
thread_local HostRelay* runningFor = nullptr;
}  // namespace

void HostRelay::runTaken(std::unique_lock<std::mutex>& lock, Task*& slot, bool onHost) {
  Task* const task = slot;
  slot = nullptr;
  lock.unlock();
  HostRelay* const outer = runningFor;
  if (onHost) runningFor = this;
  (*task->run)();
  runningFor = outer;
  lock.lock();
  task->done = true;
  changed_.notify_all();
}

bool HostRelay::serveUntilDone(std::unique_lock<std::mutex>& lock, Task& mine, Task*& posted,
                               Task*& incoming, bool onHost) {
  posted = &mine;
  changed_.notify_all();
  while (!mine.done) {
    if (incoming != nullptr) {
      runTaken(lock, incoming, onHost);
    } else if (!onHost && exiting_ && posted == &mine) {
      posted = nullptr;  // not taken by the host: withdrawn
      return false;
    } else {
      changed_.wait(lock);
    }
  }
  return true;
}

bool HostRelay::runOnHost(const std::function<void()>& task) {
  std::unique_lock<std::mutex> lock(mutex_);
  const auto settled = [this] { return arrived_.load() || gone_ || exiting_; };
  if (!changed_.wait_for(lock, kArrivalWait, settled)) gone_ = true;
  if (!arrived_.load() || exiting_) return false;
  Task mine{&task};
  return serveUntilDone(lock, mine, forHost_, forEngine_, false);
}

bool HostRelay::runOnWaitingEngine(const std::function<void()>& task) {
  HostRelay* const relay = runningFor;
  if (relay == nullptr) return false;
  std::unique_lock<std::mutex> lock(relay->mutex_);
  Task mine{&task};
  // The stand-in waits on this thread's task, so it takes this one.
  relay->serveUntilDone(lock, mine, relay->forEngine_, relay->forHost_, true);
  return true;
}

bool HostRelay::runsForEngine() { return runningFor != nullptr; }

bool HostRelay::arrive() {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (gone_ || exiting_) return false;
  arrived_.store(true);
  changed_.notify_all();
  return true;
}

bool HostRelay::awaitLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    // Handed over as the process exits, the loop is still the host's to stop.
    if (handedOver_) return true;
    if (exiting_) return false;
    if (forHost_ != nullptr) {
      runTaken(lock, forHost_, true);
    } else {
      changed_.wait(lock);
    }
  }
}

void HostRelay::handOver() {
  const std::lock_guard<std::mutex> lock(mutex_);
  handedOver_ = true;
  changed_.notify_all();
}

void HostRelay::abandon() {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (arrived_.load()) return;
  gone_ = true;
  changed_.notify_all();
}

void HostRelay::exiting() {
  const std::lock_guard<std::mutex> lock(mutex_);
  exiting_ = true;
  changed_.notify_all();
}

template <class Operate>
bool RelayedScriptHost::relayed(const ScriptFile& file, Operate operate, std::string& answer) {
  bool answered = false;
  const std::function<void()> task = [&] {
    ScriptHost* const host = scriptHost();
    if (host != nullptr) {
      answered = operate(*host);
    } else {
      answer = noScriptHostText(file.path);
    }
  };
  if (relay_.runOnHost(task)) return answered;
  answer = noScriptHostText(file.path);
  return false;
}

bool RelayedScriptHost::execute(const ScriptFile& file, const std::string& input,
                                std::string& answer) {
  return relayed(file, [&](ScriptHost& host) { return host.execute(file, input, answer); }, answer);
}

bool RelayedScriptHost::check(const ScriptFile& file, const std::string& syntaxLine,
                              const std::string& statement, std::string& answer) {
  return relayed(
      file, [&](ScriptHost& host) { return host.check(file, syntaxLine, statement, answer); },
      answer);
}
