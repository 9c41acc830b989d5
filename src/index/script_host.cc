#include "index/binding.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

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

// The value of a reference, made in a run's shared handle scope and valid
// while it is open, as long as no reference was deleted since (a new one
// may take the address of the deleted one).
struct KeptValue {
  napi_ref ref = nullptr;
  napi_value value = nullptr;
  uint64_t dropped = 0;  // JsHost::dropped_ when it was kept
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

  // The handles of the module calls of one engine run (ScriptRunScope).
  struct RunScopes {
    napi_handle_scope shared = nullptr;  // opened by the run's first module call
    unsigned uses = 0;                   // module calls made in `shared`
    bool busy = false;                   // a module call of the run is in progress
    // The values in `shared` of the latest entry called and call object,
    // the call object's for the call state store numbered `callSerial`.
    KeptValue entry, callObject;
    uint64_t callSerial = 0;
    napi_value undefined = nullptr;  // in `shared`
  };
  // A run begins inside the run (or none) in progress, and ends before it.
  void beginRun();
  void endRun();
  napi_env env() const { return env_; }
  bool inRun() const { return !outerRuns_.empty(); }

 private:
  friend class ModuleCallScope;

  LoadedScript& loaded(const ScriptFile& file);
  void loadInto(const ScriptFile& file, LoadedScript& script);
  bool call(const ScriptFile& file, napi_ref entry, const char* name, napi_value* args,
            size_t count, std::string& answer);
  std::string describe(napi_value error, const std::string& file, const char* what);
  napi_value callObject();
  napi_value valueOf(napi_ref ref, KeptValue RunScopes::*kept);
  void dropRef(napi_ref& ref);

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
  // Inside an engine run, module calls share one handle scope, renewed
  // every kCallsPerScope calls, instead of opening one each.
  RunScopes run_;
  std::vector<RunScopes> outerRuns_;  // of the runs this one is nested in
  bool inShared_ = false;  // the module call in progress uses run_.shared
  uint64_t dropped_ = 0;   // references deleted so far
};

napi_value value(napi_env env, napi_ref ref) {
  napi_value out = nullptr;
  napi_get_reference_value(env, ref, &out);
  return out;
}

// True when every byte of `bytes` is ASCII; eight at a time.
bool isAscii(const std::string& bytes) {
  const char* at = bytes.data();
  const char* const end = at + bytes.size();
  uint64_t any = 0, word;
  if (end - at < 8) {
    for (; at < end; ++at) any |= static_cast<unsigned char>(*at);
    return (any & 0x80) == 0;
  }
  for (; end - at > 8; at += 8) {
    std::memcpy(&word, at, sizeof word);
    any |= word;
  }
  std::memcpy(&word, end - 8, sizeof word);  // the last eight, overlapping
  return ((any | word) & 0x8080808080808080ULL) == 0;
}

// The JavaScript string of UTF-8 `bytes`; ASCII, the usual text, is made
// without decoding.
napi_value text(napi_env env, const std::string& bytes) {
  napi_value out = nullptr;
  if (isAscii(bytes)) {
    napi_create_string_latin1(env, bytes.data(), bytes.size(), &out);
  } else {
    napi_create_string_utf8(env, bytes.data(), bytes.size(), &out);
  }
  return out;
}

// The UTF-8 bytes of `value`, a short one in one call: false, with `out`
// untouched, when `value` is not a string. A character is never cut, so a
// longer string may stop up to three bytes short of the room (a four-byte
// character that does not fit): only a text that stops sooner than that is
// known to be whole.
bool bytesOf(napi_env env, napi_value value, std::string& out) {
  char small[256];
  size_t length = 0;
  if (napi_get_value_string_utf8(env, value, small, sizeof small, &length) != napi_ok) return false;
  if (length + 4 < sizeof small) {
    out = std::string(small, length);  // made to size: cheaper than assign's growing
    return true;
  }
  napi_get_value_string_utf8(env, value, nullptr, 0, &length);
  out.resize(length);
  napi_get_value_string_utf8(env, value, &out[0], length + 1, &length);
  return true;
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
  std::string described;
  if (napi_call_function(env_, undefined, value(env_, describe_), 3, args, &out) != napi_ok ||
      !bytesOf(env_, out, described)) {
    napi_value ignored;
    napi_get_and_clear_last_exception(env_, &ignored);
    return "JavaScript module " + file + " failed (" + what + ")";
  }
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
  dropRef(script.execute);
  dropRef(script.check);
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
  // A run's statements mostly share one call: its object, once kept in the
  // run's shared scope, is used until the store or a reference changes.
  const uint64_t serial = callStateSerial();
  const KeptValue& kept = run_.callObject;
  if (inShared_ && kept.value != nullptr && run_.callSerial == serial &&
      kept.dropped == dropped_) {
    return kept.value;
  }
  auto make = []() -> void* {
    napi_value object = nullptr;
    napi_ref ref = nullptr;
    napi_create_object(currentHost->env_, &object);
    napi_create_reference(currentHost->env_, object, 1, &ref);
    return ref;
  };
  auto release = [](void* ref) {
    napi_ref dropped = static_cast<napi_ref>(ref);
    const auto drop = [&dropped] { if (currentHost != nullptr) currentHost->dropRef(dropped); };
    // A call the engine's stand-in thread ran ends there: the object goes
    // on the thread that made it.
    ScriptHost* const relay = currentHost == nullptr ? scriptHost() : nullptr;
    if (relay == nullptr || !relay->runWhereModulesRun(drop)) drop();
  };
  const auto ref = static_cast<napi_ref>(callStateApi()->get(callKey_, make, release));
  if (inShared_) run_.callSerial = serial;
  return valueOf(ref, &RunScopes::callObject);
}

// The value of `ref`; inside the run's shared scope, the one kept there.
napi_value JsHost::valueOf(napi_ref ref, KeptValue RunScopes::*kept) {
  if (!inShared_) return value(env_, ref);
  KeptValue& slot = run_.*kept;
  if (slot.ref != ref || slot.dropped != dropped_) slot = {ref, value(env_, ref), dropped_};
  return slot.value;
}

void JsHost::dropRef(napi_ref& ref) {
  if (ref == nullptr) return;
  ++dropped_;
  drop(env_, ref);
}

// Calls `entry` with `args` (the last one the call object) inside the
// caller's ModuleCallScope: true with the string it returns, otherwise
// false with the failure text.
bool JsHost::call(const ScriptFile& file, napi_ref entry, const char* name, napi_value* args,
                  size_t count, std::string& answer) {
  if (entry == nullptr) {
    answer = describe(nullptr, file.path, name);
    return false;
  }
  args[count - 1] = callObject();
  napi_value result = nullptr, undefined = run_.undefined, error;
  if (!inShared_) napi_get_undefined(env_, &undefined);
  if (napi_call_function(env_, undefined, valueOf(entry, &RunScopes::entry), count, args,
                         &result) != napi_ok) {
    if (napi_get_and_clear_last_exception(env_, &error) != napi_ok) error = undefined;
    answer = describe(error, file.path, "threw");
    return false;
  }
  if (!bytesOf(env_, result, answer)) {
    answer = describe(result, file.path, "answer");
    return false;
  }
  return true;
}

// How many module calls of a run share one handle scope: enough that its
// cost is shared, few enough that the handles they leave stay small.
constexpr unsigned kCallsPerScope = 64;

// The handle scope of one module call: the run's shared scope, renewed when
// it has served kCallsPerScope calls, or one of its own outside a run and
// for a call made while another is in progress. So the shared scope is
// renewed only when none of its handles is in use; a nested run keeps
// scopes of its own (beginRun).
class ModuleCallScope {
 public:
  explicit ModuleCallScope(JsHost& host) : host_(host), outerInShared_(host.inShared_) {
    JsHost::RunScopes& run = host.run_;
    host.inShared_ = host.inRun() && !run.busy;
    if (!host.inShared_) {
      napi_open_handle_scope(host.env_, &own_);
      return;
    }
    if (run.shared != nullptr && run.uses >= kCallsPerScope) {
      napi_close_handle_scope(host.env_, run.shared);
      run = JsHost::RunScopes{};
    }
    if (run.shared == nullptr) {
      napi_open_handle_scope(host.env_, &run.shared);
      napi_get_undefined(host.env_, &run.undefined);
    }
    ++run.uses;
    run.busy = true;
  }
  ~ModuleCallScope() {
    if (own_ != nullptr) {
      napi_close_handle_scope(host_.env_, own_);
    } else {
      host_.run_.busy = false;
    }
    host_.inShared_ = outerInShared_;
  }
  ModuleCallScope(const ModuleCallScope&) = delete;
  ModuleCallScope& operator=(const ModuleCallScope&) = delete;

 private:
  JsHost& host_;
  const bool outerInShared_;
  napi_handle_scope own_ = nullptr;
};

void JsHost::beginRun() { outerRuns_.push_back(std::exchange(run_, RunScopes{})); }

void JsHost::endRun() {
  if (run_.shared != nullptr) napi_close_handle_scope(env_, run_.shared);
  run_ = outerRuns_.back();
  outerRuns_.pop_back();
}

bool JsHost::execute(const ScriptFile& file, const std::string& input, std::string& answer) {
  const ModuleCallScope scope(*this);
  LoadedScript& script = loaded(file);
  if (!script.error.empty()) return answer = script.error, false;
  napi_value args[2] = {text(env_, input), nullptr};
  return call(file, script.execute, "execute", args, 2, answer);
}

bool JsHost::check(const ScriptFile& file, const std::string& syntaxLine,
                   const std::string& statement, std::string& answer) {
  const ModuleCallScope scope(*this);
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

ScriptRunScope::ScriptRunScope(napi_env env) {
  if (currentHost == nullptr || currentHost->env() != env) return;
  host_ = currentHost;
  currentHost->beginRun();
}

ScriptRunScope::~ScriptRunScope() {
  if (host_ != nullptr) static_cast<JsHost*>(host_)->endRun();
}

void addScriptHost(Napi::Env env, Napi::Object exports) {
  exports.DefineProperties(
      {Napi::PropertyDescriptor::Function(env, exports, "setScriptHelpers", SetScriptHelpers)});
}
