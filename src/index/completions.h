// How the promise calls of one JavaScript environment come back to it: the
// engine thread hands the calls that have run to the environment's thread
// through a thread-safe function, which calls onDone(number, record,
// timedOut) for each call still pending there.
//
// An environment that is ending (a worker thread terminated, the process
// exiting) can no longer run JavaScript: the outcomes handed to it then are
// dropped quietly, and no failed Node-API call ever ends the process.
#ifndef ZEL_INDEX_COMPLETIONS_H_
#define ZEL_INDEX_COMPLETIONS_H_

#include <napi.h>

#include <cstdint>
#include <memory>
#include <unordered_map>

#include "host/call_queue.h"

// A promise call that has not settled, and its onDone when it is not the
// environment's first.
struct PendingCall {
  std::shared_ptr<QueuedCall> call;
  Napi::FunctionReference onDone;
};

// The promise calls of one environment that have not settled, by number.
// An environment that goes away withdraws or ends them.
struct EnvCalls {
  explicit EnvCalls(Napi::Env env);
  ~EnvCalls();

  // What the calls' sink hands to (call->sink), and its thread-safe
  // function, which holds the event loop only while calls are pending.
  std::shared_ptr<CompletionSink> sink;
  napi_threadsafe_function tsfn = nullptr;
  Napi::FunctionReference makeRecord;   // builds a record object (one per environment)
  Napi::FunctionReference firstOnDone;  // the one the thread-safe function calls
  std::unordered_map<int64_t, PendingCall> pending;
  int64_t lastNumber = 0;
};

// The environment's calls, made with its first call, whose onDone is
// `onDone`. Null, with an exception pending, when they cannot be made.
EnvCalls* envCalls(Napi::Env env, Napi::Function onDone);

#endif  // ZEL_INDEX_COMPLETIONS_H_
