#include <atomic>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "base/state.h"
#include "entries/entries.h"
#include "entries/recorded_call.h"
#include "host/call_queue_relay.h"
#include "index/binding.h"

// libuv's default loop is the main thread's; the node binary exports it.
extern "C" struct uv_loop_s* uv_default_loop(void);

namespace {

// Ends the process after a stop answer as the host would: on the main
// thread through process.exit(0), so that 'exit' handlers run; from a worker
// thread the whole process ends with status 0.
void endProcessAfterStop(Napi::Env env) {
  uv_loop_s* loop = nullptr;
  const bool mainThread = napi_get_uv_event_loop(env, &loop) == napi_ok &&
                          loop == uv_default_loop();
  if (mainThread && !env.IsExceptionPending()) {
    const Napi::Value process = env.Global().Get("process");
    if (process.IsObject()) {
      const Napi::Value exit = process.As<Napi::Object>().Get("exit");
      if (exit.IsFunction()) exit.As<Napi::Function>().Call(process, {Napi::Number::New(env, 0)});
    }
  }
  std::exit(0);
}

template <class Entry>
Napi::Value callEngine(const Napi::CallbackInfo& info, size_t argumentCount, Entry entry) {
  const Napi::Env env = info.Env();
  std::vector<std::string> texts;
  for (size_t i = 0; i < argumentCount; ++i) texts.push_back(argumentText(info, i));
  // An exception escaping the engine (thrown by a module, or an allocation
  // failure) becomes a JavaScript Error instead of aborting the host.
  std::atomic<bool> neverCancelled{false};
  Outcome outcome;
  {
    const ScriptRunScope run(env);
    const auto call = [&] {
      outcome = recordedCall(neverCancelled, false, [&](Call& c) { return entry(c, texts); });
    };
    // A JavaScript module run here for the engine's stand-in thread, which
    // holds the engine, has it make the call.
    if (HostRelay::runsForEngine()) {
      HostRelay::runOnWaitingEngine(call);
    } else {
      call();
    }
  }
  if (outcome.stopped) endProcessAfterStop(env);
  if (outcome.threw && !env.IsExceptionPending()) {
    Napi::Error::New(env, outcome.error).ThrowAsJavaScriptException();
  }
  if (env.IsExceptionPending()) return env.Undefined();
  return Napi::String::New(env, outcome.result.data(), outcome.result.size());
}

Napi::Value Compiler(const Napi::CallbackInfo& info) {
  return callEngine(info, 2, [](Call& call, std::vector<std::string>& t) {
    // The catalogue of the latest Executer or Commandes call.
    call.setApp(myAbsolutePathDirApp);
    return compileScript(call, t[0], t[1]);
  });
}

Napi::Value Executer(const Napi::CallbackInfo& info) {
  return callEngine(info, 2, [](Call& call, std::vector<std::string>& t) {
    return executeProgram(call, std::move(t[0]), std::move(t[1]));
  });
}

Napi::Value Commandes(const Napi::CallbackInfo& info) {
  return callEngine(info, 3, [](Call& call, std::vector<std::string>& t) {
    return executeStatement(call, std::move(t[0]), std::move(t[1]), std::move(t[2]));
  });
}

}  // namespace

void addClassicExports(Napi::Env env, Napi::Object exports) {
  // The functions carry no names of their own; they are reached only as
  // properties of the exports object.
  exports.Set("Compiler", Napi::Function::New(env, Compiler));
  exports.Set("Executer", Napi::Function::New(env, Executer));
  exports.Set("Commandes", Napi::Function::New(env, Commandes));
}
