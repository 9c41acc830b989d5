// The Node.js binding: registers the add-on "zel" and its classic exports
// Compiler, Executer and Commandes, which convert their arguments with
// JavaScript's own string conversion, call one engine entry and return its
// result text. Hidden functions serve the promise API (startCall and
// cancelCall: isolated calls on the engine thread, zel/call_queue.h) and the
// command line (reportCrashes, cutStatements, declaredSyntax); setScriptHelpers
// lets the environment run JavaScript modules (index/script_host.h).
#include <napi.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "exec/command_loop.h"
#include "index/completions.h"
#include "index/script_host.h"
#include "zel/call_queue.h"
#include "zel/crash_report.h"
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

// startCall(kind, a, b, c, d, timeout, onDone, results): queues one engine
// call on the engine thread (kind 0 run, 1 exec, 2 compile, 3 run a program
// text, 4 exec in the session's state; the caller checks that a to d are
// strings; timeout in milliseconds from now, negative for none) and returns
// its number. onDone(number, outcome, timedOut) runs on this thread once it
// has run; with `results`, the outcome lists each statement's result.
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
  // The catalogue file (d) is read by a compilation only.
  const size_t count = call->kind == QueuedCall::kCompile ? 4 : 3;
  for (size_t i = 0; i < count; ++i) {
    if (info[i + 1].IsString()) call->args[i] = info[i + 1].As<Napi::String>().Utf8Value();
  }
  call->timeoutMs = info[5].As<Napi::Number>().Int64Value();
  // Raw: a failed call here (an environment ending) must not be fatal.
  if (info.Length() > 7) napi_get_value_bool(env, info[7], &call->results);
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
// is stopped before anything the exit frees (zel/call_queue.h).
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
  serveEngineHere();
  return info.Env().Undefined();
}

Napi::Value AbandonEngineHost(const Napi::CallbackInfo& info) {
  abandonEngineHost();
  return info.Env().Undefined();
}

// reportCrashes(command, program): a module that crashes the process on the
// engine thread is noted on standard error first, naming the command and
// program (zel/crash_report.h). For the command line.
Napi::Value ReportCrashes(const Napi::CallbackInfo& info) {
  reportModuleCrashes(argumentText(info, 0), argumentText(info, 1));
  return info.Env().Undefined();
}

// cutStatements(pending, text): cuts `text` into statements as the standard
// input loop does, after the unfinished statement `pending`; returns
// [the unfinished statement after it, the statements it completed...]. For
// the command line's "zel repl".
Napi::Value CutStatements(const Napi::CallbackInfo& info) {
  const Napi::Env env = info.Env();
  StatementCutter cutter(argumentText(info, 0));
  std::vector<std::string> statements;
  cutter.addText(argumentText(info, 1), statements);
  Napi::Array out = Napi::Array::New(env, statements.size() + 1);
  out.Set(0u, cutter.pending());
  for (size_t i = 0; i < statements.size(); ++i) {
    out.Set(static_cast<uint32_t>(i + 1), statements[i]);
  }
  return out;
}

// declaredSyntax(app, statement): null for a statement that declares no
// syntax file; otherwise { path } of the file it names below the
// application's node_modules, or { error } (message 1) when it would leave.
// For the command line's "zel repl", whose input is not trusted.
Napi::Value DeclaredSyntax(const Napi::CallbackInfo& info) {
  std::string text;
  const Declaration found = replDeclaration(argumentText(info, 0), argumentText(info, 1), text);
  if (found == Declaration::kNone) return info.Env().Null();
  Napi::Object out = Napi::Object::New(info.Env());
  out.Set(found == Declaration::kConfined ? "path" : "error", text);
  return out;
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
      Napi::PropertyDescriptor::Function(env, exports, "cancelCall", CancelCall),
      Napi::PropertyDescriptor::Function(env, exports, "engineExiting", EngineExiting),
      Napi::PropertyDescriptor::Function(env, exports, "reportCrashes", ReportCrashes),
      Napi::PropertyDescriptor::Function(env, exports, "cutStatements", CutStatements),
      Napi::PropertyDescriptor::Function(env, exports, "declaredSyntax", DeclaredSyntax),
      Napi::PropertyDescriptor::Function(env, exports, "setScriptHelpers", SetScriptHelpers),
      Napi::PropertyDescriptor::Function(env, exports, "claimEngineHost", ClaimEngineHost),
      Napi::PropertyDescriptor::Function(env, exports, "serveEngine", ServeEngine),
      Napi::PropertyDescriptor::Function(env, exports, "abandonEngineHost", AbandonEngineHost)});
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
