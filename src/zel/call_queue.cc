#include "zel/call_queue.h"

#include <dlfcn.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

#include "zel/entries.h"
#include "zel/state.h"

namespace {

using Clock = std::chrono::steady_clock;
using CallList = std::vector<std::shared_ptr<QueuedCall>>;

// How long the exit of the process waits for the call in progress to end.
constexpr auto kExitWait = std::chrono::milliseconds(100);
// How long a completion waits, at most, for the rest of its batch to run.
constexpr auto kBatchHold = std::chrono::milliseconds(1);

pid_t threadId() { return static_cast<pid_t>(syscall(SYS_gettid)); }

struct Engine {
  std::mutex mutex;
  std::condition_variable wake;     // calls were queued while idle
  std::condition_variable settled;  // the thread went idle or parked
  CallList waiting;
  bool idle = false;    // the thread waits for `wake`; no one woke it yet
  bool parked = false;  // the process exits; the thread does nothing more
  std::atomic<bool> exiting{false};
  std::atomic<QueuedCall*> running{nullptr};
  std::atomic<pid_t> thread{0};
};

// Ends the calls that run past their time limit. Its own thread, started
// with the first call that has one.
struct Watchdog {
  std::mutex mutex;
  std::condition_variable changed;
  QueuedCall* call = nullptr;  // the timed call running, if any
  Clock::time_point deadline;
};

void watch(Watchdog& w) {
  std::unique_lock<std::mutex> lock(w.mutex);
  for (;;) {
    if (w.call == nullptr) {
      w.changed.wait(lock);
    } else if (Clock::now() < w.deadline) {
      w.changed.wait_until(lock, w.deadline);
    } else {
      // A cancel request that came first keeps the call an abort.
      if (!w.call->cancel.exchange(true)) w.call->timedOut.store(true);
      w.call = nullptr;
    }
  }
}

Watchdog& watchdog() {
  static Watchdog* const w = [] {
    auto* created = new Watchdog;
    std::thread(watch, std::ref(*created)).detach();
    return created;
  }();
  return *w;
}

void startWatch(QueuedCall& call) {
  Watchdog& w = watchdog();
  const std::lock_guard<std::mutex> lock(w.mutex);
  w.call = &call;
  w.deadline = Clock::now() + std::chrono::milliseconds(call.timeoutMs);
  w.changed.notify_one();
}

// Once this returns, the watchdog has made its last change to the call.
void endWatch() {
  Watchdog& w = watchdog();
  const std::lock_guard<std::mutex> lock(w.mutex);
  w.call = nullptr;
}

std::string runEntry(Call& c, QueuedCall& call) {
  std::string* a = call.args;
  switch (call.kind) {
    case QueuedCall::kRun:
      return executeProgram(c, std::move(a[0]), std::move(a[1]));
    case QueuedCall::kExec:
      return executeStatement(c, std::move(a[0]), std::move(a[1]), std::move(a[2]));
    default:
      // The messages come from the catalogue of the application in a[2],
      // or from the catalogue file a[3] when no application is given.
      myAbsolutePathDirApp = a[2];
      c.setApp(a[2], a[2].empty() ? a[3] : "");
      return compileScript(c, std::move(a[0]), std::move(a[1]));
  }
}

void runOne(Engine& e, QueuedCall& call) {
  e.running.store(&call);
  // Either this or the exit handler sees the other's store.
  if (e.exiting.load()) call.cancel.store(true);
  const bool timed = call.timeoutMs >= 0;
  if (timed) startWatch(call);
  call.outcome = runCall(call.cancel, true, [&call](Call& c) { return runEntry(c, call); });
  if (timed) endWatch();
  e.running.store(nullptr);
}

// The thread stays here once the process has begun to exit: the exit
// handlers still to run free what a call would use.
[[noreturn]] void park(Engine& e, std::unique_lock<std::mutex>& lock) {
  e.parked = true;
  e.settled.notify_all();
  for (;;) e.wake.wait(lock);
}

// Waits for calls and moves every waiting one into `batch`.
void takeBatch(Engine& e, CallList& batch) {
  batch.clear();
  std::unique_lock<std::mutex> lock(e.mutex);
  for (;;) {
    if (e.exiting.load()) park(e, lock);
    if (!e.waiting.empty()) break;
    e.idle = true;
    e.settled.notify_all();
    e.wake.wait(lock);
  }
  e.idle = false;
  batch.swap(e.waiting);  // keeps both lists' room
}

// Hands each sink its calls of `done`, in order, and empties `done`.
void deliverAll(CallList& done) {
  while (!done.empty()) {
    const std::shared_ptr<CompletionSink> sink = done.front()->sink;
    CallList mine, rest;
    for (auto& call : done) (call->sink == sink ? mine : rest).push_back(std::move(call));
    done.swap(rest);
    sink->deliver(std::move(mine));
  }
}

void runBatch(Engine& e, CallList& batch) {
  CallList done;
  Clock::time_point firstDone;
  for (size_t i = 0; i < batch.size(); ++i) {
    std::shared_ptr<QueuedCall>& call = batch[i];
    int waiting = QueuedCall::kWaiting;
    // A withdrawn call is dropped: its caller has settled it already.
    if (!call->state.compare_exchange_strong(waiting, QueuedCall::kRunning)) continue;
    runOne(e, *call);
    if (e.exiting.load()) {
      std::unique_lock<std::mutex> lock(e.mutex);
      park(e, lock);
    }
    done.push_back(std::move(call));
    if (i + 1 == batch.size()) break;
    // Completions wait for the rest of the batch only briefly, so that a
    // long call queued behind short ones does not hold their results.
    const Clock::time_point now = Clock::now();
    if (done.size() == 1) firstDone = now;
    if (now - firstDone >= kBatchHold) deliverAll(done);
  }
  deliverAll(done);
}

void serve(Engine& e) {
  e.thread.store(threadId());
  CallList batch;
  for (;;) {
    takeBatch(e, batch);
    runBatch(e, batch);
  }
}

// Runs when the process exits (exit(), or the end of main): the call in
// progress is asked to end, and the exit goes on once the engine thread has
// stopped, or ends the process at once after kExitWait.
void onProcessExit(int status, void* arg) {
  Engine& e = *static_cast<Engine*>(arg);
  if (threadId() == e.thread.load()) return;  // a module exits on the engine thread
  std::unique_lock<std::mutex> lock(e.mutex);
  e.exiting.store(true);
  if (QueuedCall* call = e.running.load()) call->cancel.store(true);
  e.wake.notify_all();
  if (e.settled.wait_for(lock, kExitWait, [&e] { return e.idle || e.parked; })) return;
  _exit(status);
}

// Keeps the shared object holding this code loaded for the rest of the
// process. The host unloads an add-on when the last environment that
// loaded it ends (a worker thread, say), and the engine thread and the exit
// handler run this code until the process ends.
void stayLoaded() {
  Dl_info self;
  if (dladdr(reinterpret_cast<void*>(&stayLoaded), &self) == 0 || self.dli_fname == nullptr) return;
  dlopen(self.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
}

std::atomic<Engine*> started{nullptr};

Engine& engine() {
  // Never destroyed: the thread uses it until the process ends.
  static Engine* const e = [] {
    stayLoaded();
    auto* created = new Engine;
    on_exit(onProcessExit, created);
    std::thread(serve, std::ref(*created)).detach();
    started.store(created);
    return created;
  }();
  return *e;
}

}  // namespace

void enqueueCall(std::shared_ptr<QueuedCall> call) {
  Engine& e = engine();
  bool wake = false;
  {
    const std::lock_guard<std::mutex> lock(e.mutex);
    e.waiting.push_back(std::move(call));
    // Woken once: calls queued before it wakes join the same batch.
    std::swap(wake, e.idle);
  }
  if (wake) e.wake.notify_one();
}

bool cancelQueuedCall(QueuedCall& call) {
  int waiting = QueuedCall::kWaiting;
  if (call.state.compare_exchange_strong(waiting, QueuedCall::kWithdrawn)) return true;
  call.cancel.store(true);
  return false;
}

void engineExitFirst() {
  if (Engine* e = started.load()) on_exit(onProcessExit, e);
}
