// The Node.js binding: registers the add-on "zel" and its three exports,
// Compiler, Executer and Commandes. Each export turns its arguments into
// texts with JavaScript's own string conversion, calls one engine entry and
// returns the engine's result text as a string.
#include <napi.h>

#include <exception>
#include <string>
#include <vector>

#include "zel/zel.h"

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

template <class Entry>
Napi::Value callEngine(const Napi::CallbackInfo& info, size_t argumentCount, Entry entry) {
  const Napi::Env env = info.Env();
  std::vector<std::string> texts;
  for (size_t i = 0; i < argumentCount; ++i) texts.push_back(argumentText(info, i));
  std::string result;
  // An exception escaping the engine (thrown by a module, or an allocation
  // failure) becomes a JavaScript Error instead of aborting the host.
  try {
    result = entry(texts);
  } catch (const std::exception& e) {
    if (!env.IsExceptionPending()) Napi::Error::New(env, e.what()).ThrowAsJavaScriptException();
  } catch (...) {
    if (!env.IsExceptionPending()) {
      Napi::Error::New(env, "zel: unknown exception in the engine").ThrowAsJavaScriptException();
    }
  }
  if (env.IsExceptionPending()) return env.Undefined();
  return Napi::String::New(env, result.data(), result.size());
}

Napi::Value Compiler(const Napi::CallbackInfo& info) {
  return callEngine(info, 2, [](std::vector<std::string>& t) {
    return CallZEL_Compiler(t[0], t[1]);
  });
}

Napi::Value Executer(const Napi::CallbackInfo& info) {
  return callEngine(info, 2, [](std::vector<std::string>& t) {
    return CallZEL_Executer(t[0], t[1]);
  });
}

Napi::Value Commandes(const Napi::CallbackInfo& info) {
  return callEngine(info, 3, [](std::vector<std::string>& t) {
    return CallZEL_Commandes(t[0], t[1], t[2]);
  });
}

Napi::Object Init(Napi::Env env, Napi::Object exports) {
  // The functions carry no names of their own; they are reached only as
  // properties of the exports object.
  exports.Set("Compiler", Napi::Function::New(env, Compiler));
  exports.Set("Executer", Napi::Function::New(env, Executer));
  exports.Set("Commandes", Napi::Function::New(env, Commandes));
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
