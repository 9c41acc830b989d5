// The parts of the Node.js binding, each adding its functions to the
// add-on's exports (index.cc registers the add-on and calls them).
#ifndef ZEL_INDEX_BINDING_H_
#define ZEL_INDEX_BINDING_H_

#include <napi.h>

#include <cstddef>
#include <initializer_list>
#include <string>

// The i-th argument as UTF-8 bytes; a missing argument converts as
// undefined. When the conversion throws (a Symbol, say), the JavaScript
// exception stays pending, the text is empty, and the export still calls
// the engine before the exception reaches the caller.
std::string argumentText(const Napi::CallbackInfo& info, size_t i);

// { name: number, ... } of a table of the engine's names (message
// numbers, call kinds), so that JavaScript never writes a number of its own.
template <class Row, size_t N>
Napi::Object numbersByName(Napi::Env env, const Row (&table)[N]) {
  Napi::Object out = Napi::Object::New(env);
  for (const Row& row : table) out.Set(row.name, static_cast<int>(row.number));
  return out;
}

// A function the binding adds for its own callers, under its name.
struct HiddenFunction {
  const char* name;
  Napi::Value (*call)(const Napi::CallbackInfo& info);
};

// Adds `functions` and the value `valueName` to the exports as properties
// that are not enumerable: the classic surface stays the three classic
// exports.
void addHidden(Napi::Env env, Napi::Object exports, std::initializer_list<HiddenFunction> functions,
               const char* valueName, Napi::Value value);

// The classic exports Compiler, Executer and Commandes (classic.cc): each
// converts its arguments with JavaScript's own string conversion, calls one
// engine entry and returns its result text.
void addClassicExports(Napi::Env env, Napi::Object exports);

// The promise API's hidden functions (promise.cc): startCall, cancelCall
// and engineExiting, for isolated calls on the engine thread
// (host/call_queue.h), and the call kinds startCall takes by name
// (callKinds); claimEngineHost, serveEngine and abandonEngineHost, for the
// engine worker that runs that thread's loop instead.
void addPromiseBinding(Napi::Env env, Napi::Object exports);

// The command line's hidden helpers (cli.cc): reportCrashes, cutStatements
// and declaredSyntax, and the engine's message numbers by name (messages).
void addCommandLineHelpers(Napi::Env env, Napi::Object exports);

// The hidden setScriptHelpers(load, describe) (script_host.cc): makes the
// environment the script host of its thread (modules/script_module.h), which
// runs the JavaScript modules the engine calls there. load(file) requires
// `file` afresh and returns its exports; describe(value, file, what) gives
// the failure text of a module that did not load, lacks an entry, threw or
// answered no string. The host goes with the environment.
void addScriptHost(Napi::Env env, Napi::Object exports);

// One engine run on this thread (a classic call, the engine worker's loop):
// while it lives, the JavaScript modules it calls share a handle scope,
// renewed every few dozen calls and closed when it ends, instead of
// opening one each. Does nothing where `env` is not the thread's script
// host. Runs nest; each keeps its own scopes.
class ScriptRunScope {
 public:
  explicit ScriptRunScope(napi_env env);
  ~ScriptRunScope();
  ScriptRunScope(const ScriptRunScope&) = delete;
  ScriptRunScope& operator=(const ScriptRunScope&) = delete;

 private:
  void* host_ = nullptr;  // the host whose run this is, or null
};

#endif  // ZEL_INDEX_BINDING_H_
