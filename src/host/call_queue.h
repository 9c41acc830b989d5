// The engine thread: the promise API's calls, from every JavaScript thread
// of the process, wait in one queue and run in call order on one thread the
// engine owns, so that no thread of the host's own pool ever waits for the
// engine. Each call runs isolated through recordedCall (entries/recorded_call.h).
//
// Calls queued while the engine is busy are taken in one go when it frees,
// without waking it per call. The calls of a batch that came from one
// completion sink (a JavaScript environment) are handed back to it
// together, in call order; when the rest of the batch runs longer than a
// millisecond, those that have run are handed back without waiting for it.
// A timer thread (call_queue_timer.h) does that and ends the calls that run
// past their time limit, which counts from when each was made.
//
// After a batch, when the latest call came from another processor, the
// thread looks for the next call for up to 50 us, yielding between looks,
// before it sleeps: a caller that awaits each call then makes the next one
// without waking it, and a wake-up across processors is the dearest part
// of a round trip on an idle machine. On the caller's own processor it
// sleeps at once, since a wake-up there is cheap.
//
// The thread is started on the first call and never joined: it does not
// keep the process alive. When the process exits while a call runs, the
// call is asked to end; the exit waits a short while for it, and when a
// module holds the call longer the process ends at once with its exit
// status (the exit handlers still to run would free what the call uses).
// That happens in an exit handler, which runs after those registered later
// (the static data of modules loaded since): the host calls
// engineExitFirst as it begins to exit.
#ifndef ZEL_HOST_CALL_QUEUE_H_
#define ZEL_HOST_CALL_QUEUE_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "call/call.h"

struct QueuedCall;

// Where the calls of one caller go once they have run.
class CompletionSink {
 public:
  virtual ~CompletionSink() = default;
  // Called on the engine thread with calls of this sink that have run, in
  // call order. Must not wait for the caller's thread.
  virtual void deliver(std::vector<std::shared_ptr<QueuedCall>> calls) = 0;
};

// One promise API call.
struct QueuedCall {
  // kExecInSession is kExec whose modules keep the process-wide state
  // (zelCallState) the classic exports use: one session of statements,
  // such as the command line's repl.
  enum Kind { kRun = 0, kExec = 1, kCompile = 2, kRunText = 3, kExecInSession = 4 };
  Kind kind = kRun;
  // The application (a compilation's may be empty); what the call works on:
  // the program path, the program text, the statement or the source path;
  // an exec's syntax path or a compilation's output suffix; and the
  // catalogue zel ships: a compilation without an application takes its
  // messages from it, and any call the messages its application's catalogue
  // lacks.
  std::string app;
  std::string subject;
  std::string syntaxOrSuffix;
  std::string catalog;
  // Time limit in milliseconds from the moment the call was made (`made`,
  // when the caller created it), time spent waiting included; negative for
  // none.
  int64_t timeoutMs = -1;
  std::chrono::steady_clock::time_point made = std::chrono::steady_clock::now();
  int64_t tag = 0;  // the caller's number for the call
  bool results = false;  // the record keeps each statement's result
  // How many failures and results the record lists, the rest counted.
  size_t listCap = kMaxDiagnostics;
  std::shared_ptr<CompletionSink> sink;

  // Set to end a program run before its next statement.
  std::atomic<bool> cancel{false};
  // The time limit set `cancel` (first, before any cancel request).
  std::atomic<bool> timedOut{false};
  enum State { kWaiting, kRunning, kWithdrawn };
  std::atomic<int> state{kWaiting};
  // The call's record, once it has run.
  Outcome outcome;
};

// The kinds by the names the JavaScript side uses (the binding hands them
// over, so that no number is written twice).
struct CallKindName {
  QueuedCall::Kind number;
  const char* name;
};
inline constexpr CallKindName kCallKindNames[] = {
    {QueuedCall::kRun, "run"},         {QueuedCall::kExec, "exec"},
    {QueuedCall::kCompile, "compile"}, {QueuedCall::kRunText, "runText"},
    {QueuedCall::kExecInSession, "execInSession"},
};

// Queues `call` behind every call queued before it. Its sink gets it back
// once it has run; a call withdrawn meanwhile is dropped instead.
void enqueueCall(std::shared_ptr<QueuedCall> call);

// Ends `call` early. Returns true when it had not started: it is withdrawn
// and never runs. Otherwise a program run in progress ends before its next
// statement (its record then says cancelled); a call that has ended is not
// affected. Any thread.
bool cancelQueuedCall(QueuedCall& call);

// How long the calls of a batch that have run wait, at most, for the rest
// of it (1 ms unless changed; tests that run slowly under a checker use
// more).
void setBatchHold(std::chrono::microseconds hold);

// Registers the exit handler above again, so that it runs before every
// exit handler registered so far. Does nothing before the first call.
void engineExitFirst();

// The loop may run on a thread the host gives it instead of the engine's
// own: a JavaScript worker thread, where modules written in JavaScript are
// called directly. claimEngineHost() takes that role before the engine has
// started: true when the caller must now give a thread, on which
// serveEngineHere() runs the loop until the process exits. Until that
// thread arrives the engine's own thread stands in, and the JavaScript
// module calls it makes run on the host's thread (call_queue_relay.h);
// abandonEngineHost() says that no thread will come, and the stand-in keeps
// the loop. stopHostedEngine(status), as the process begins to exit, ends
// the call in progress and has the loop stop; when a module holds it past a
// short wait the process ends at once with `status`.
bool claimEngineHost();
void serveEngineHere();
void abandonEngineHost();
void stopHostedEngine(int status);

#endif  // ZEL_HOST_CALL_QUEUE_H_
