#include "host/call_queue.h"

#include <dlfcn.h>
#include <linux/futex.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

#include "modules/module_call.h"
#include "host/call_queue_relay.h"
#include "host/call_queue_timer.h"
#include "host/crash_report.h"
#include "entries/entries.h"
#include "entries/recorded_call.h"
#include "base/state.h"
#include "base/thread_id.h"

namespace {

using Clock = std::chrono::steady_clock;
using CallList = std::vector<std::shared_ptr<QueuedCall>>;

// How long the exit of the process waits for the call in progress to end.
constexpr auto kExitWait = std::chrono::milliseconds(100);
// How long the engine thread looks for the next call before it sleeps. A
// caller that awaits each call makes the next one within tens of
// microseconds; found while the thread is still awake, it costs neither
// side a wake-up, which on an idle machine is the dearest part of a round
// trip.
constexpr auto kSpin = std::chrono::microseconds(50);
// How long a completion waits, at most, for the rest of its batch to run.
std::atomic<int64_t> batchHoldMicros{1000};

// The engine thread sleeps on a futex word rather than a condition
// variable: waking from one leaves its mutex marked contended, which costs
// a system call more per call.
void sleepWhile(std::atomic<uint32_t>& word, uint32_t value) {
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAIT_PRIVATE, value, nullptr,
          nullptr, 0);
}

void wakeOne(std::atomic<uint32_t>& word) {
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr,
          0);
}

struct Engine {
  std::mutex mutex;
  std::condition_variable settled;  // the thread went idle or parked
  CallList waiting;
  // 1 while the thread sleeps, or is about to, and no one has woken it.
  std::atomic<uint32_t> asleep{0};
  bool idle = false;    // the thread sleeps until calls come; no one woke it yet
  bool parked = false;  // the process exits; the thread does nothing more
  // Calls wait in `waiting`; read without the lock while the thread spins.
  std::atomic<bool> pending{false};
  // The processor the latest call was made on.
  std::atomic<int> callerCpu{-1};
  std::atomic<bool> exiting{false};
  std::atomic<QueuedCall*> running{nullptr};
  std::atomic<pid_t> thread{0};
  // The loop goes to a thread the host gives it (claimEngineHost); until
  // then the engine's own thread stands in (call_queue_relay.h).
  bool hosted = false;
  HostRelay relay;

  // Calls that have run and wait to be handed back; the timer thread hands
  // them back when the rest of their batch takes long.
  std::mutex outboxMutex;
  CallList outbox;
};

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

// Hands back every call in the outbox. Deliveries happen under its lock,
// so that each sink gets its calls in order.
void flushOutbox(Engine& e) {
  const std::lock_guard<std::mutex> lock(e.outboxMutex);
  deliverAll(e.outbox);
}

// Puts a call that has run in the outbox. The first one of a batch with
// more calls to run has the timer flush the outbox after the batch hold.
void post(Engine& e, std::shared_ptr<QueuedCall> call, bool moreToRun) {
  bool first = false;
  {
    const std::lock_guard<std::mutex> lock(e.outboxMutex);
    first = e.outbox.empty();
    e.outbox.push_back(std::move(call));
  }
  if (!first || !moreToRun) return;
  flushAfter(std::chrono::microseconds(batchHoldMicros.load()),
             [](void* engine) { flushOutbox(*static_cast<Engine*>(engine)); }, &e);
}

std::string runEntry(Call& c, QueuedCall& call) {
  callInRun.store(&c, std::memory_order_relaxed);
  c.keepsResults = call.results;
  c.listCap = call.listCap;
  c.setShippedCatalog(call.catalog);
  switch (call.kind) {
    case QueuedCall::kRun:
      return executeProgram(c, std::move(call.app), std::move(call.subject));
    case QueuedCall::kRunText:
      return executeProgramText(c, std::move(call.app), call.subject);
    case QueuedCall::kExec:
    case QueuedCall::kExecInSession:
      return executeNamedStatement(c, std::move(call.app), std::move(call.subject),
                                   std::move(call.syntaxOrSuffix));
    default:
      // The messages come from the catalogue of the application, or from
      // the catalogue file when no application is given.
      myAbsolutePathDirApp = call.app;
      c.setApp(call.app, call.app.empty() ? call.catalog : "");
      return compileScript(c, std::move(call.subject), std::move(call.syntaxOrSuffix));
  }
}

void runOne(Engine& e, QueuedCall& call) {
  e.running.store(&call);
  // Either this or the exit handler sees the other's store.
  if (e.exiting.load()) call.cancel.store(true);
  const bool timed = call.timeoutMs >= 0;
  // A call whose time ran out while it waited (a limit of zero always has)
  // ends before its first statement.
  if (timed && Clock::now() >= call.made + std::chrono::milliseconds(call.timeoutMs) &&
      !call.cancel.exchange(true)) {
    call.timedOut.store(true);
  }
  if (timed) startWatch(call);
  call.outcome = recordedCall(call.cancel, true, [&call](Call& c) { return runEntry(c, call); },
                         call.kind != QueuedCall::kExecInSession);
  callInRun.store(nullptr, std::memory_order_relaxed);
  if (timed) endWatch();
  e.running.store(nullptr);
}

// True on the host's thread once it runs the loop.
thread_local bool loopHost = false;

// The thread stays here once the process has begun to exit: the exit
// handlers still to run free what a call would use. A host's thread
// returns instead, for the host to end it.
void park(Engine& e, std::unique_lock<std::mutex>& lock) {
  e.parked = true;
  e.settled.notify_all();
  lock.unlock();
  if (loopHost) return;
  for (;;) pause();
}

// True on the stand-in once the host it stands in for has arrived.
bool handOverDue(const Engine& e) { return e.hosted && !loopHost && e.relay.arrived(); }

// The stand-in leaves the loop to the host, which has arrived, and ends.
// Its signal stack is the engine thread's, which the host takes on.
void handOver(Engine& e, std::unique_lock<std::mutex>& lock) {
  lock.unlock();
  stack_t off{};
  off.ss_flags = SS_DISABLE;
  sigaltstack(&off, nullptr);
  e.relay.handOver();
}

// Wakes the loop's thread when it sleeps for want of calls.
void wakeLoop(Engine& e) {
  bool wake = false;
  {
    const std::lock_guard<std::mutex> lock(e.mutex);
    std::swap(wake, e.idle);
    if (wake) e.asleep.store(0);
  }
  if (wake) wakeOne(e.asleep);
}

// Watches for a call for up to kSpin before the thread sleeps; returns as
// soon as one waits or the process exits. Yields the processor between
// looks, so that a thread that shares it runs first.
void spinForCall(const Engine& e) {
  const Clock::time_point until = Clock::now() + kSpin;
  do {
    for (int i = 0; i < 32; ++i) {
      if (e.pending.load(std::memory_order_acquire) || e.exiting.load()) return;
#if defined(__x86_64__) || defined(__i386__)
      __builtin_ia32_pause();
#endif
    }
    sched_yield();
  } while (Clock::now() < until);
}

// Waits for calls and moves every waiting one into `batch`; false once
// the process exits, or once the stand-in has handed the loop over.
bool takeBatch(Engine& e, CallList& batch) {
  batch.clear();
  // On the caller's own processor a wake-up is cheap, and spinning would
  // only hold the caller off it.
  if (sched_getcpu() != e.callerCpu.load(std::memory_order_relaxed)) spinForCall(e);
  std::unique_lock<std::mutex> lock(e.mutex);
  while (e.waiting.empty() || e.exiting.load() || handOverDue(e)) {
    if (e.exiting.load()) return park(e, lock), false;
    if (handOverDue(e)) return handOver(e, lock), false;
    e.idle = true;
    e.asleep.store(1);
    e.settled.notify_all();
    lock.unlock();
    sleepWhile(e.asleep, 1);
    lock.lock();
  }
  batch.swap(e.waiting);  // keeps both lists' room
  e.pending.store(false, std::memory_order_relaxed);
  return true;
}

// Runs the calls of `batch`; false once the process exits.
bool runBatch(Engine& e, CallList& batch) {
  for (size_t i = 0; i < batch.size(); ++i) {
    std::shared_ptr<QueuedCall>& call = batch[i];
    int waiting = QueuedCall::kWaiting;
    // A withdrawn call is dropped: its caller has settled it already.
    if (!call->state.compare_exchange_strong(waiting, QueuedCall::kRunning)) continue;
    runOne(e, *call);
    if (e.exiting.load()) {
      std::unique_lock<std::mutex> lock(e.mutex);
      return park(e, lock), false;
    }
    post(e, std::move(call), i + 1 < batch.size());
  }
  flushOutbox(e);
  return true;
}

void serve(Engine& e) {
  e.thread.store(threadId());
  noteEngineThread();
  CallList batch;
  while (takeBatch(e, batch) && runBatch(e, batch)) continue;
}

// The loop until the host takes it, with JavaScript modules run by the host.
void standIn(Engine& e) {
  RelayedScriptHost relayed(e.relay);
  useScriptHost(&relayed);
  serve(e);
  useScriptHost(nullptr);
}

// Runs when the process exits (exit(), or the end of main): the call in
// progress is asked to end, and the exit goes on once the engine thread has
// stopped, or ends the process at once after kExitWait.
void onProcessExit(int status, void* arg) {
  Engine& e = *static_cast<Engine*>(arg);
  if (threadId() == e.thread.load()) return;  // a module exits on the engine thread
  e.relay.exiting();
  std::unique_lock<std::mutex> lock(e.mutex);
  e.exiting.store(true);
  if (QueuedCall* call = e.running.load()) call->cancel.store(true);
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
std::atomic<bool> hostClaimed{false};

Engine& engine() {
  // Never destroyed: the thread uses it until the process ends.
  static Engine* const e = [] {
    stayLoaded();
    auto* created = new Engine;
    on_exit(onProcessExit, created);
    // Modules loaded later register static destructors of their own, which
    // would run before the handler: it is registered again after each.
    setModuleMappedHook(engineExitFirst);
    created->hosted = hostClaimed.load();
    std::thread(created->hosted ? standIn : serve, std::ref(*created)).detach();
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
    e.pending.store(true, std::memory_order_release);
    e.callerCpu.store(sched_getcpu(), std::memory_order_relaxed);
    // Woken once: calls queued before it wakes join the same batch.
    std::swap(wake, e.idle);
    if (wake) e.asleep.store(0);
  }
  if (wake) wakeOne(e.asleep);
}

bool cancelQueuedCall(QueuedCall& call) {
  int waiting = QueuedCall::kWaiting;
  if (call.state.compare_exchange_strong(waiting, QueuedCall::kWithdrawn)) return true;
  call.cancel.store(true);
  return false;
}

void setBatchHold(std::chrono::microseconds hold) { batchHoldMicros.store(hold.count()); }

void engineExitFirst() {
  if (Engine* e = started.load()) on_exit(onProcessExit, e);
}

bool claimEngineHost() {
  bool unclaimed = false;
  if (started.load() != nullptr || !hostClaimed.compare_exchange_strong(unclaimed, true)) {
    return false;
  }
  return engine().hosted;  // a first call on another thread may have started it
}

void serveEngineHere() {
  Engine& e = engine();
  if (!e.hosted || !e.relay.arrive()) return;
  wakeLoop(e);  // an idle stand-in hands the loop over at once
  if (!e.relay.awaitLoop()) return;
  loopHost = true;
  serve(e);
}

void abandonEngineHost() { engine().relay.abandon(); }

void stopHostedEngine(int status) {
  Engine* const e = started.load();
  if (e == nullptr || !e->hosted || threadId() == e->thread.load()) return;
  e->relay.exiting();
  std::unique_lock<std::mutex> lock(e->mutex);
  e->exiting.store(true);
  if (QueuedCall* call = e->running.load()) call->cancel.store(true);
  e->asleep.store(0);
  wakeOne(e->asleep);
  if (e->settled.wait_for(lock, kExitWait, [e] { return e->parked; })) return;
  _exit(status);
}
