// The Node.js binding: registers the add-on "zel" and its three exports,
// Compiler, Executer and Commandes. Each export turns its arguments into
// texts with JavaScript's own string conversion, calls one engine entry and
// returns the engine's result text as a string. Two hidden functions,
// startCall and cancelCall, run an entry on the libuv pool for the promise
// API (lib/promise.js); those calls are isolated: each starts from a clean
// engine state and leaves the classic exports' state as it found it.
#include <napi.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "zel/entries.h"
#include "zel/outcome.h"
#include "zel/state.h"

// libuv's default loop is the main thread's; the node binary exports it.
extern "C" struct uv_loop_s* uv_default_loop(void);

namespace {

// The i-th argument as UTF-8 bytes; a missing argument converts as
// undefined. When the conversion throws (a Symbol, say), the JavaScript
// exception stays pending, the text is empty, and the export still calls
// the engine before the exception reaches the caller.
std::string argumentText(const Napi::CallbackInfo& info, size_t i) {
  const Napi::Env env = info.Env();
  if (env.IsExceptionPending()) return "";
  const Napi::String text = info[i].ToString();
  if (env.IsExceptionPending()) return "";
  return text.Utf8Value();
}

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
  const Outcome outcome =
      runCall(neverCancelled, false, [&](Call& call) { return entry(call, texts); });
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
    return executeProgram(call, t[0], t[1]);
  });
}

Napi::Value Commandes(const Napi::CallbackInfo& info) {
  return callEngine(info, 3, [](Call& call, std::vector<std::string>& t) {
    return executeStatement(call, t[0], t[1], t[2]);
  });
}

// The outcome as lib/promise.js reads it: { result, message, line, failed,
// stopped, cancelled, threw, noCatalog, error, modulePath, output,
// logSkipped, diagnostics: [{ line, message, text }] }; message and line
// are 0 when there is none.
Napi::Object outcomeObject(Napi::Env env, const Outcome& o) {
  const Napi::Object object = Napi::Object::New(env);
  object.Set("result", Napi::String::New(env, o.result.data(), o.result.size()));
  object.Set("message", o.message);
  object.Set("line", o.line);
  for (const auto& [name, value] : {std::pair<const char*, bool>{"failed", o.failed},
                                    {"stopped", o.stopped}, {"cancelled", o.cancelled},
                                    {"threw", o.threw}, {"noCatalog", o.noCatalog},
                                    {"logSkipped", o.logSkipped}}) {
    object.Set(name, value);
  }
  object.Set("error", o.error);
  object.Set("modulePath", o.modulePath);
  object.Set("output", o.output);
  Napi::Array diagnostics = Napi::Array::New(env, o.diagnostics.size());
  for (size_t i = 0; i < o.diagnostics.size(); ++i) {
    const Diagnostic& d = o.diagnostics[i];
    Napi::Object entry = Napi::Object::New(env);
    entry.Set("line", d.line);
    entry.Set("message", d.message);
    entry.Set("text", Napi::String::New(env, d.text.data(), d.text.size()));
    diagnostics.Set(static_cast<uint32_t>(i), entry);
  }
  object.Set("diagnostics", diagnostics);
  return object;
}

// One promise API call: runs an entry on a libuv pool thread, then hands the
// outcome to a JavaScript callback.
class EngineCall : public Napi::AsyncWorker {
 public:
  enum Kind { kRun = 0, kExec = 1, kCompile = 2 };

  EngineCall(const Napi::Function& callback, Kind kind, std::vector<std::string> args,
             std::shared_ptr<std::atomic<bool>> cancel)
      : Napi::AsyncWorker(callback, "zel"), kind_(kind), args_(std::move(args)),
        cancel_(std::move(cancel)) {}

  // Isolated: the call starts from a clean engine state, and the classic
  // exports' state is put back as it was.
  void Execute() override {
    outcome_ = runCall(*cancel_, true, [this](Call& call) {
      const std::vector<std::string>& a = args_;
      if (kind_ == kRun) return executeProgram(call, a[0], a[1]);
      if (kind_ == kExec) return executeStatement(call, a[0], a[1], a[2]);
      // The messages come from the catalogue of the application in a[2], or
      // from the catalogue file a[3] when no application is given.
      myAbsolutePathDirApp = a[2];
      call.setApp(a[2], a[2].empty() ? a[3] : "");
      return compileScript(call, a[0], a[1]);
    });
  }

  std::vector<napi_value> GetResult(Napi::Env env) override {
    return {outcomeObject(env, outcome_)};
  }

 private:
  Kind kind_;
  std::vector<std::string> args_;
  std::shared_ptr<std::atomic<bool>> cancel_;
  Outcome outcome_;
};

// The cancel flag of the call a JavaScript thread has at the engine. Its
// queue (lib/promise.js) lets one call at a time reach the engine, so one
// flag per thread is enough.
struct ThreadCalls {
  std::shared_ptr<std::atomic<bool>> cancel;
};

ThreadCalls& threadCalls(Napi::Env env) {
  ThreadCalls* calls = env.GetInstanceData<ThreadCalls>();
  if (calls == nullptr) {
    calls = new ThreadCalls;
    env.SetInstanceData(calls);
  }
  return *calls;
}

// startCall(kind, a, b, c, d, callback): queues one engine call (kind 0
// run, 1 exec, 2 compile; the caller checks that a to d are strings) and
// hands callback(outcome) the outcome object.
Napi::Value StartCall(const Napi::CallbackInfo& info) {
  const Napi::Env env = info.Env();
  if (info.Length() < 6 || !info[0].IsNumber() || !info[5].IsFunction()) {
    Napi::TypeError::New(env, "startCall(kind, a, b, c, d, callback)")
        .ThrowAsJavaScriptException();
    return env.Undefined();
  }
  const int kind = info[0].As<Napi::Number>().Int32Value();
  std::vector<std::string> args;
  for (size_t i = 1; i <= 4; ++i) {
    args.push_back(info[i].IsString() ? info[i].As<Napi::String>().Utf8Value() : "");
  }
  auto cancel = std::make_shared<std::atomic<bool>>(false);
  threadCalls(env).cancel = cancel;
  auto* call = new EngineCall(info[5].As<Napi::Function>(),
                              static_cast<EngineCall::Kind>(kind), std::move(args), cancel);
  call->Queue();
  return env.Undefined();
}

// cancelCall(): asks the program run this thread started last to end before
// its next statement. Harmless once that call has ended.
Napi::Value CancelCall(const Napi::CallbackInfo& info) {
  ThreadCalls& calls = threadCalls(info.Env());
  if (calls.cancel) calls.cancel->store(true, std::memory_order_relaxed);
  return info.Env().Undefined();
}

Napi::Object Init(Napi::Env env, Napi::Object exports) {
  // The functions carry no names of their own; they are reached only as
  // properties of the exports object.
  exports.Set("Compiler", Napi::Function::New(env, Compiler));
  exports.Set("Executer", Napi::Function::New(env, Executer));
  exports.Set("Commandes", Napi::Function::New(env, Commandes));
  // Not enumerable: the classic surface stays the three exports above.
  exports.DefineProperties({
      Napi::PropertyDescriptor::Function(env, exports, "startCall", StartCall),
      Napi::PropertyDescriptor::Function(env, exports, "cancelCall", CancelCall)});
  return exports;
}

napi_value RegisterZel(napi_env env, napi_value exports) {
  return Napi::RegisterModule(env, exports, Init);
}

napi_module zelModule = {
    1,            // nm_version
    0,            // nm_flags
    "src/index",  // nm_filename
    RegisterZel,  // nm_register_func
    "zel",        // nm_modname
    nullptr,      // nm_priv
    {nullptr, nullptr, nullptr, nullptr},
};

// Registration happens while the host loads the shared object.
__attribute__((constructor)) void _register_zel() { napi_module_register(&zelModule); }

}  // namespace

// The load-time registration runs once per process, when the shared object
// is first loaded. A worker thread that loads the add-on while another
// thread's load is still under way finds no registration and would fail
// ("did not self-register"); the host then looks for this entry instead.
extern "C" __attribute__((visibility("default"))) napi_value napi_register_module_v1(
    napi_env env, napi_value exports) {
  return RegisterZel(env, exports);
}
