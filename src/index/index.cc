// The Node.js binding: registers the add-on "zel", whose exports are the
// classic Compiler, Executer and Commandes (classic.cc) and, not
// enumerable, the functions of the promise API (promise.cc) and of the
// command line (cli.cc), and the script host's setScriptHelpers
// (script_host.cc).
#include <napi.h>

#include <string>
#include <vector>

#include "index/binding.h"

std::string argumentText(const Napi::CallbackInfo& info, size_t i) {
  const Napi::Env env = info.Env();
  if (env.IsExceptionPending()) return "";
  const Napi::String text = info[i].ToString();
  if (env.IsExceptionPending()) return "";
  return text.Utf8Value();
}

void addHidden(Napi::Env env, Napi::Object exports, std::initializer_list<HiddenFunction> functions,
               const char* valueName, Napi::Value value) {
  std::vector<Napi::PropertyDescriptor> properties;
  for (const HiddenFunction& f : functions) {
    properties.push_back(Napi::PropertyDescriptor::Function(env, exports, f.name, f.call));
  }
  properties.push_back(Napi::PropertyDescriptor::Value(valueName, value));
  exports.DefineProperties(properties);
}

namespace {

Napi::Object Init(Napi::Env env, Napi::Object exports) {
  addClassicExports(env, exports);
  addPromiseBinding(env, exports);
  addCommandLineHelpers(env, exports);
  addScriptHost(env, exports);
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
