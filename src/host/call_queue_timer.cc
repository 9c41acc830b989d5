#include "host/call_queue_timer.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

// The timer thread's state.
struct Timer {
  std::mutex mutex;
  std::condition_variable changed;
  QueuedCall* call = nullptr;  // the timed call running, if any
  Clock::time_point deadline;
  void (*flush)(void*) = nullptr;  // run with flushArg at flushAt
  void* flushArg = nullptr;
  Clock::time_point flushAt;
};

void tick(Timer& t) {
  std::unique_lock<std::mutex> lock(t.mutex);
  for (;;) {
    const Clock::time_point now = Clock::now();
    if (t.call != nullptr && now >= t.deadline) {
      // A cancel request that came first keeps the call an abort.
      if (!t.call->cancel.exchange(true)) t.call->timedOut.store(true);
      t.call = nullptr;
    } else if (t.flush != nullptr && now >= t.flushAt) {
      void (*const flush)(void*) = std::exchange(t.flush, nullptr);
      void* const arg = t.flushArg;
      lock.unlock();
      flush(arg);
      lock.lock();
    } else if (t.call == nullptr && t.flush == nullptr) {
      t.changed.wait(lock);
    } else {
      const Clock::time_point next = t.call == nullptr   ? t.flushAt
                                     : t.flush == nullptr ? t.deadline
                                                          : std::min(t.deadline, t.flushAt);
      t.changed.wait_until(lock, next);
    }
  }
}

Timer& timer() {
  static Timer* const t = [] {
    auto* created = new Timer;
    std::thread(tick, std::ref(*created)).detach();
    return created;
  }();
  return *t;
}

}  // namespace

void startWatch(QueuedCall& call) {
  Timer& t = timer();
  const std::lock_guard<std::mutex> lock(t.mutex);
  t.call = &call;
  t.deadline = call.made + std::chrono::milliseconds(call.timeoutMs);
  t.changed.notify_one();
}

void endWatch() {
  Timer& t = timer();
  const std::lock_guard<std::mutex> lock(t.mutex);
  t.call = nullptr;
}

void flushAfter(std::chrono::microseconds delay, void (*flush)(void*), void* arg) {
  Timer& t = timer();
  const std::lock_guard<std::mutex> lock(t.mutex);
  if (t.flush != nullptr) return;  // an earlier flush is due
  t.flush = flush;
  t.flushArg = arg;
  t.flushAt = Clock::now() + delay;
  t.changed.notify_one();
}
