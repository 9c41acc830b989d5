#include <cstdint>
#include <memory>
#include <string>

#include "host/call_queue.h"
#include "index/binding.h"
#include "index/completions.h"

namespace {

// The call's texts from startCall's a to d: app, subject and syntax for a
// run or an exec; source, output suffix and app for a compilation; and, for
// every kind, the catalogue zel ships. A text is a string (taken as UTF-8)
// or a Uint8Array, whose bytes are taken as they are (a program's text).
void takeTexts(const Napi::CallbackInfo& info, QueuedCall& call) {
  const auto text = [&info](size_t i, std::string& to) {
    if (info[i].IsString()) {
      to = info[i].As<Napi::String>().Utf8Value();
    } else if (info[i].IsTypedArray() &&
               info[i].As<Napi::TypedArray>().TypedArrayType() == napi_uint8_array) {
      const Napi::Uint8Array bytes = info[i].As<Napi::Uint8Array>();
      to.assign(reinterpret_cast<const char*>(bytes.Data()), bytes.ByteLength());
    }
  };
  if (call.kind == QueuedCall::kCompile) {
    text(1, call.subject);
    text(2, call.syntaxOrSuffix);
    text(3, call.app);
  } else {
    text(1, call.app);
    text(2, call.subject);
    text(3, call.syntaxOrSuffix);
  }
  text(4, call.catalog);
}

// A call's `results` option: true keeps each statement's result, listing
// kMaxDiagnostics of them and of the failures; a number keeps them, listing
// that many of each (the command line asks for them all). Read raw: a
// failure here (an environment ending) must not be fatal.
void readResultsOption(napi_env env, napi_value value, QueuedCall& call) {
  double cap = 0;
  if (napi_get_value_double(env, value, &cap) == napi_ok) {
    call.results = cap >= 1;
    if (call.results) call.listCap = cap >= 1e15 ? SIZE_MAX : static_cast<size_t>(cap);
    return;
  }
  napi_get_value_bool(env, value, &call.results);
}

// startCall(kind, a, b, c, d, timeout, onDone, results): queues one engine
// call on the engine thread (kind: one of callKinds, the run of a program
// file or text, an exec in a fresh or in the session's state, a
// compilation; the caller checks that a to d are strings, or a run's text
// a Uint8Array; timeout in milliseconds from now, negative for none) and
// returns its number.
// onDone(number, outcome, timedOut) runs on this thread once it has run;
// with `results`, the outcome lists each statement's result (see
// readResultsOption).
Napi::Value StartCall(const Napi::CallbackInfo& info) {
  const Napi::Env env = info.Env();
  if (info.Length() < 7 || !info[0].IsNumber() || !info[5].IsNumber() || !info[6].IsFunction()) {
    Napi::TypeError::New(env, "startCall(kind, a, b, c, d, timeout, onDone)")
        .ThrowAsJavaScriptException();
    return env.Undefined();
  }
  EnvCalls* calls = envCalls(env, info[6].As<Napi::Function>());
  if (calls == nullptr) return env.Undefined();
  auto call = std::make_shared<QueuedCall>();
  const int kind = info[0].As<Napi::Number>().Int32Value();
  call->kind = kind >= 1 && kind <= 4 ? static_cast<QueuedCall::Kind>(kind) : QueuedCall::kRun;
  takeTexts(info, *call);
  call->timeoutMs = info[5].As<Napi::Number>().Int64Value();
  if (info.Length() > 7) readResultsOption(env, info[7], *call);
  call->tag = ++calls->lastNumber;
  call->sink = calls->sink;
  if (calls->pending.empty()) napi_ref_threadsafe_function(env, calls->tsfn);
  PendingCall& pending = calls->pending[call->tag];
  pending.call = call;
  // Another copy of the promise API in this environment has its own onDone.
  if (!calls->firstOnDone.Value().StrictEquals(info[6])) {
    pending.onDone = Napi::Persistent(info[6].As<Napi::Function>());
  }
  enqueueCall(std::move(call));
  return Napi::Number::New(env, static_cast<double>(calls->lastNumber));
}

// cancelCall(number, drop): ends a call of this environment early. Returns
// true when it had not started: it never runs and its onDone is never
// called. Otherwise a program run ends before its next statement, and with
// `drop` its onDone is never called either, nor does it keep the event loop
// alive. Harmless once the call has settled.
Napi::Value CancelCall(const Napi::CallbackInfo& info) {
  const Napi::Env env = info.Env();
  EnvCalls* calls = env.GetInstanceData<EnvCalls>();
  if (calls == nullptr || !info[0].IsNumber()) return Napi::Boolean::New(env, false);
  const auto found = calls->pending.find(info[0].As<Napi::Number>().Int64Value());
  if (found == calls->pending.end()) return Napi::Boolean::New(env, false);
  const bool withdrawn = cancelQueuedCall(*found->second.call);
  bool drop = false;
  if (info.Length() > 1) napi_get_value_bool(env, info[1], &drop);
  if (!withdrawn && !drop) return Napi::Boolean::New(env, false);
  calls->pending.erase(found);
  if (calls->pending.empty()) napi_unref_threadsafe_function(env, calls->tsfn);
  return Napi::Boolean::New(env, withdrawn);
}

// engineExiting(status): the process is about to exit; the engine's loop
// is stopped before anything the exit frees (host/call_queue.h).
Napi::Value EngineExiting(const Napi::CallbackInfo& info) {
  engineExitFirst();
  stopHostedEngine(info[0].IsNumber() ? info[0].As<Napi::Number>().Int32Value() : 0);
  return info.Env().Undefined();
}

// claimEngineHost(): true when this environment must now run the engine's
// loop on a thread of its own (serveEngine there, or abandonEngineHost).
Napi::Value ClaimEngineHost(const Napi::CallbackInfo& info) {
  return Napi::Boolean::New(info.Env(), claimEngineHost());
}

// serveEngine(): runs the promise calls on this thread until the process
// exits; JavaScript modules are called in this environment.
Napi::Value ServeEngine(const Napi::CallbackInfo& info) {
  const ScriptRunScope run(info.Env());
  serveEngineHere();
  return info.Env().Undefined();
}

Napi::Value AbandonEngineHost(const Napi::CallbackInfo& info) {
  abandonEngineHost();
  return info.Env().Undefined();
}

}  // namespace

void addPromiseBinding(Napi::Env env, Napi::Object exports) {
  addHidden(env, exports,
            {{"startCall", StartCall}, {"cancelCall", CancelCall}, {"engineExiting", EngineExiting},
             {"claimEngineHost", ClaimEngineHost}, {"serveEngine", ServeEngine},
             {"abandonEngineHost", AbandonEngineHost}},
            "callKinds", numbersByName(env, kCallKindNames));
}
