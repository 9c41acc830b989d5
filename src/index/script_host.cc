#include "index/binding.h"

#include <string>
#include <unordered_map>

#include "modules/call_state.h"
#include "modules/script_module.h"

namespace {

// A module file as this environment loaded it: its entries, or why not.
struct LoadedScript {
  FileIdentity identity{};
  napi_ref execute = nullptr;
  napi_ref check = nullptr;
  std::string error;
  bool tried = false;  // loaded, or failed to, for `identity`
};

class JsHost;
thread_local JsHost* currentHost = nullptr;

class JsHost : public ScriptHost {
 public:
  JsHost(napi_env env, napi_value load, napi_value describe);
  ~JsHost() override;
  void setHelpers(napi_value load, napi_value describe);
  bool execute(const ScriptFile& file, const std::string& input, std::string& answer) override;
  bool check(const ScriptFile& file, const std::string& syntaxLine, const std::string& statement,
             std::string& answer) override;

 private:
  LoadedScript& loaded(const ScriptFile& file);
  void loadInto(const ScriptFile& file, LoadedScript& script);
  bool call(const ScriptFile& file, napi_ref entry, const char* name, napi_value* args,
            size_t count, std::string& answer);
  std::string describe(napi_value error, const std::string& file, const char* what);
  napi_value callObject();

  napi_env env_;
  napi_ref load_ = nullptr;
  napi_ref describe_ = nullptr;
  // The key of this environment's `call` object in the call's state store:
  // never freed, so that no later host reuses it.
  const char* const callKey_ = new char(0);
  std::unordered_map<std::string, LoadedScript> scripts_;
  // The entry of the latest call (map nodes stay put): a program's
  // statements mostly call one module in turn.
  const std::string* lastPath_ = nullptr;
  LoadedScript* last_ = nullptr;
};

napi_value value(napi_env env, napi_ref ref) {
  napi_value out = nullptr;
  napi_get_reference_value(env, ref, &out);
  return out;
}

// The JavaScript string of UTF-8 `bytes`; ASCII, the usual text, is made
// without decoding.
napi_value text(napi_env env, const std::string& bytes) {
  napi_value out = nullptr;
  unsigned char any = 0;
  for (const char byte : bytes) any |= static_cast<unsigned char>(byte);
  if (any < 0x80) {
    napi_create_string_latin1(env, bytes.data(), bytes.size(), &out);
  } else {
    napi_create_string_utf8(env, bytes.data(), bytes.size(), &out);
  }
  return out;
}

// The UTF-8 bytes of a JavaScript string; a short one in one call. A
// character is never cut, so a longer string may stop up to three bytes
// short of the room (a four-byte character that does not fit): only a text
// that stops sooner than that is known to be whole.
void bytesOf(napi_env env, napi_value string, std::string& out) {
  char small[256];
  size_t length = 0;
  napi_get_value_string_utf8(env, string, small, sizeof small, &length);
  if (length + 4 < sizeof small) {
    out.assign(small, length);
    return;
  }
  napi_get_value_string_utf8(env, string, nullptr, 0, &length);
  out.resize(length);
  napi_get_value_string_utf8(env, string, &out[0], length + 1, &length);
}

void drop(napi_env env, napi_ref& ref) {
  if (ref != nullptr) napi_delete_reference(env, ref);
  ref = nullptr;
}

JsHost::JsHost(napi_env env, napi_value load, napi_value describe) : env_(env) {
  setHelpers(load, describe);
}

JsHost::~JsHost() {
  for (auto& entry : scripts_) {
    drop(env_, entry.second.execute);
    drop(env_, entry.second.check);
  }
  drop(env_, load_);
  drop(env_, describe_);
}

void JsHost::setHelpers(napi_value load, napi_value describe) {
  drop(env_, load_);
  drop(env_, describe_);
  napi_create_reference(env_, load, 1, &load_);
  napi_create_reference(env_, describe, 1, &describe_);
}

// describe(error, file, what), or a plain text when it cannot run.
std::string JsHost::describe(napi_value error, const std::string& file, const char* what) {
  napi_value undefined = nullptr, out = nullptr;
  napi_get_undefined(env_, &undefined);
  napi_value args[3] = {error != nullptr ? error : undefined, text(env_, file), text(env_, what)};
  napi_valuetype type = napi_undefined;
  if (napi_call_function(env_, undefined, value(env_, describe_), 3, args, &out) != napi_ok ||
      napi_typeof(env_, out, &type) != napi_ok || type != napi_string) {
    napi_value ignored;
    napi_get_and_clear_last_exception(env_, &ignored);
    return "JavaScript module " + file + " failed (" + what + ")";
  }
  std::string described;
  bytesOf(env_, out, described);
  return described;
}

// The entry `name` of `exports` when it is a function.
napi_ref entryOf(napi_env env, napi_value exports, const char* name) {
  napi_value entry = nullptr;
  napi_valuetype type = napi_undefined;
  if (napi_get_named_property(env, exports, name, &entry) != napi_ok ||
      napi_typeof(env, entry, &type) != napi_ok || type != napi_function) {
    return nullptr;
  }
  napi_ref ref = nullptr;
  napi_create_reference(env, entry, 1, &ref);
  return ref;
}

void JsHost::loadInto(const ScriptFile& file, LoadedScript& script) {
  drop(env_, script.execute);
  drop(env_, script.check);
  script.error.clear();
  script.identity = file.identity;
  script.tried = true;
  napi_value args[1] = {text(env_, file.path)}, exports = nullptr, undefined, error;
  napi_get_undefined(env_, &undefined);
  napi_valuetype type = napi_undefined;
  if (napi_call_function(env_, undefined, value(env_, load_), 1, args, &exports) != napi_ok) {
    if (napi_get_and_clear_last_exception(env_, &error) != napi_ok) napi_get_undefined(env_, &error);
    script.error = describe(error, file.path, "load");
    return;
  }
  if (napi_typeof(env_, exports, &type) != napi_ok || type == napi_undefined || type == napi_null) {
    return;
  }
  script.execute = entryOf(env_, exports, "execute");
  script.check = entryOf(env_, exports, "check");
}

LoadedScript& JsHost::loaded(const ScriptFile& file) {
  if (lastPath_ == nullptr || *lastPath_ != file.path) {
    const auto entry = scripts_.try_emplace(file.path).first;
    lastPath_ = &entry->first;
    last_ = &entry->second;
  }
  LoadedScript& script = *last_;
  // A file edited since it was loaded is used as edited.
  if (!script.tried || !sameFile(script.identity, file.identity)) loadInto(file, script);
  return script;
}

// The `call` object of the call in progress, kept in the call's state store
// (one per promise call, one for the process under the classic exports).
napi_value JsHost::callObject() {
  auto make = []() -> void* {
    napi_value object = nullptr;
    napi_ref ref = nullptr;
    napi_create_object(currentHost->env_, &object);
    napi_create_reference(currentHost->env_, object, 1, &ref);
    return ref;
  };
  auto release = [](void* ref) {
    if (currentHost != nullptr) napi_delete_reference(currentHost->env_, static_cast<napi_ref>(ref));
  };
  return value(env_, static_cast<napi_ref>(callStateApi()->get(callKey_, make, release)));
}

// Calls `entry` with `args` (the last one the call object) in a handle
// scope of its own: true with the string it returns, otherwise false with
// the failure text.
bool JsHost::call(const ScriptFile& file, napi_ref entry, const char* name, napi_value* args,
                  size_t count, std::string& answer) {
  if (entry == nullptr) {
    answer = describe(nullptr, file.path, name);
    return false;
  }
  args[count - 1] = callObject();
  napi_value result = nullptr, undefined, error;
  napi_get_undefined(env_, &undefined);
  if (napi_call_function(env_, undefined, value(env_, entry), count, args, &result) != napi_ok) {
    if (napi_get_and_clear_last_exception(env_, &error) != napi_ok) error = undefined;
    answer = describe(error, file.path, "threw");
    return false;
  }
  napi_valuetype type = napi_undefined;
  napi_typeof(env_, result, &type);
  if (type != napi_string) {
    answer = describe(result, file.path, "answer");
    return false;
  }
  bytesOf(env_, result, answer);
  return true;
}

// Opens a handle scope for one module call and closes it after.
class CallScope {
 public:
  explicit CallScope(napi_env env) : env_(env) { napi_open_handle_scope(env_, &scope_); }
  ~CallScope() { napi_close_handle_scope(env_, scope_); }
  CallScope(const CallScope&) = delete;
  CallScope& operator=(const CallScope&) = delete;

 private:
  napi_env env_;
  napi_handle_scope scope_ = nullptr;
};

bool JsHost::execute(const ScriptFile& file, const std::string& input, std::string& answer) {
  const CallScope scope(env_);
  LoadedScript& script = loaded(file);
  if (!script.error.empty()) return answer = script.error, false;
  napi_value args[2] = {text(env_, input), nullptr};
  return call(file, script.execute, "execute", args, 2, answer);
}

bool JsHost::check(const ScriptFile& file, const std::string& syntaxLine,
                   const std::string& statement, std::string& answer) {
  const CallScope scope(env_);
  LoadedScript& script = loaded(file);
  if (!script.error.empty()) return answer = script.error, false;
  napi_value args[3] = {text(env_, syntaxLine), text(env_, statement), nullptr};
  return call(file, script.check, "check", args, 3, answer);
}

void dropHost(void* host) {
  if (currentHost == host) {
    currentHost = nullptr;
    useScriptHost(nullptr);
  }
  delete static_cast<JsHost*>(host);
}

}  // namespace

namespace {

Napi::Value SetScriptHelpers(const Napi::CallbackInfo& info) {
  const napi_env env = info.Env();
  if (info.Length() < 2 || !info[0].IsFunction() || !info[1].IsFunction()) {
    Napi::TypeError::New(env, "setScriptHelpers(load, describe)").ThrowAsJavaScriptException();
    return info.Env().Undefined();
  }
  if (currentHost != nullptr) {
    currentHost->setHelpers(info[0], info[1]);
  } else {
    currentHost = new JsHost(env, info[0], info[1]);
    napi_add_env_cleanup_hook(env, dropHost, currentHost);
    useScriptHost(currentHost);
  }
  return info.Env().Undefined();
}

}  // namespace

void addScriptHost(Napi::Env env, Napi::Object exports) {
  exports.DefineProperties(
      {Napi::PropertyDescriptor::Function(env, exports, "setScriptHelpers", SetScriptHelpers)});
}
