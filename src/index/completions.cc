#include "index/completions.h"

#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace {

// The completions of one environment. The engine thread hands them to the
// environment's thread through the thread-safe function, one call per
// batch; when the environment goes away, the function's finalizer closes
// the sink and later batches are dropped.
class EnvSink : public CompletionSink {
 public:
  using Batch = std::vector<std::shared_ptr<QueuedCall>>;

  void open(napi_threadsafe_function tsfn) { tsfn_ = tsfn; }

  void close() {
    const std::lock_guard<std::mutex> lock(mutex_);
    tsfn_ = nullptr;
  }

  void deliver(Batch calls) override {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (tsfn_ == nullptr) return;
    auto* batch = new Batch(std::move(calls));
    if (napi_call_threadsafe_function(tsfn_, batch, napi_tsfn_nonblocking) != napi_ok) {
      delete batch;  // the environment is closing
    }
  }

 private:
  std::mutex mutex_;
  napi_threadsafe_function tsfn_ = nullptr;
};

// The record object lib/promise.js reads is made by a JavaScript function
// compiled once per environment: an object literal made by compiled code
// costs a small part of setting its properties one by one from here.
constexpr const char* kRecordSource =
    "(function (result, message, line, failed, stopped, cancelled, threw, noCatalog, "
    "logged, error, modulePath, output, diagnostics, results, textTooLong) { return { "
    "result, message, line, failed, stopped, cancelled, threw, noCatalog, logged, error, "
    "modulePath, output, diagnostics, results, textTooLong }; })";

// Node-API calls made one after another with raw statuses: once one fails
// the rest are skipped, so that a failure never reaches the wrapper's
// no-exceptions fatal path. A text too long for a JavaScript string (the
// engine refuses it without throwing) is made empty and noted instead.
class Maker {
 public:
  explicit Maker(napi_env env) : env_(env) {}

  bool failed() const { return failed_; }
  bool textTooLong() const { return tooLong_; }

  napi_value text(const std::string& s) {
    napi_value made = nullptr;
    if (failed_) return nullptr;
    if (napi_create_string_utf8(env_, s.data(), s.size(), &made) == napi_ok) return made;
    if (s.empty()) {
      failed_ = true;
      return nullptr;
    }
    tooLong_ = true;
    return text("");
  }
  napi_value number(double value) { return step(napi_create_double, value); }
  napi_value flag(bool value) { return step(napi_get_boolean, value); }

  void set(napi_value object, const char* name, napi_value value) {
    if (!failed_) failed_ = napi_set_named_property(env_, object, name, value) != napi_ok;
  }
  void setElement(napi_value array, uint32_t i, napi_value value) {
    if (!failed_) failed_ = napi_set_element(env_, array, i, value) != napi_ok;
  }
  napi_value object() { return step([](napi_env e, napi_value* out) { return napi_create_object(e, out); }); }
  napi_value array(size_t length) { return step(napi_create_array_with_length, length); }
  napi_value call(napi_value function, std::vector<napi_value> args) {
    napi_value undefined = step([](napi_env e, napi_value* out) { return napi_get_undefined(e, out); });
    napi_value out = nullptr;
    if (!failed_) {
      failed_ = napi_call_function(env_, undefined, function, args.size(), args.data(), &out) != napi_ok;
    }
    return failed_ ? nullptr : out;
  }

 private:
  template <class Create, class... Args>
  napi_value step(Create create, Args... args) {
    napi_value out = nullptr;
    if (!failed_) failed_ = create(env_, args..., &out) != napi_ok;
    return failed_ ? nullptr : out;
  }

  napi_env env_;
  bool failed_ = false;
  bool tooLong_ = false;
};

// The record's diagnostics (or results): [{ line, message, text }], in order.
napi_value entriesOf(Maker& make, const std::vector<Diagnostic>& entries) {
  napi_value list = make.array(entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    const Diagnostic& d = entries[i];
    napi_value entry = make.object();
    make.set(entry, "line", make.number(d.line));
    make.set(entry, "message", make.number(d.message));
    make.set(entry, "text", make.text(d.text));
    make.setElement(list, static_cast<uint32_t>(i), entry);
  }
  return list;
}

// The record of `o` as lib/promise.js reads it: { result, message, line,
// failed, stopped, cancelled, threw, noCatalog, logged, error,
// modulePath, output, diagnostics and results: [{ line, message, text }],
// textTooLong };
// message and line are 0 when there is none. When a text is too long for a
// JavaScript string, textTooLong is true and that text is empty. Null when
// a Node-API call failed (an exception may then be pending).
napi_value recordOf(napi_env env, napi_value makeRecord, const Outcome& o) {
  Maker make(env);
  std::vector<napi_value> args = {
      make.text(o.result),     make.number(o.message),   make.number(o.line),
      make.flag(o.failed),     make.flag(o.stopped),     make.flag(o.cancelled),
      make.flag(o.threw),      make.flag(o.noCatalog),   make.flag(o.logged),
      make.text(o.error),      make.text(o.modulePath),  make.text(o.output),
      entriesOf(make, o.diagnostics), entriesOf(make, o.results)};
  args.push_back(make.flag(make.textTooLong()));
  const napi_value record = make.call(makeRecord, std::move(args));
  return make.failed() ? nullptr : record;
}

// Calls onDone(number, record, timedOut) for `call`. False when it could
// not be called or threw.
bool settleInScope(napi_env env, napi_value makeRecord, napi_value onDone, const QueuedCall& call) {
  const napi_value record = recordOf(env, makeRecord, call.outcome);
  if (record == nullptr) return false;
  Maker make(env);
  make.call(onDone, {make.number(static_cast<double>(call.tag)), record,
                     make.flag(call.timedOut.load())});
  return !make.failed();
}

// settleInScope in a handle scope of its own.
bool settle(napi_env env, napi_value makeRecord, napi_value onDone, const QueuedCall& call) {
  napi_handle_scope scope = nullptr;
  if (napi_open_handle_scope(env, &scope) != napi_ok) return false;
  const bool settled = settleInScope(env, makeRecord, onDone, call);
  napi_close_handle_scope(env, scope);
  return settled;
}

// True when the environment can still run JavaScript after a Node-API call
// failed: an exception is pending. A call that fails with none pending
// means the environment is ending.
bool exceptionPending(napi_env env) {
  bool pending = false;
  return napi_is_exception_pending(env, &pending) == napi_ok && pending;
}

// Runs on the environment's thread with a batch of calls that have run:
// onDone for each call not withdrawn meanwhile. An exception thrown by
// onDone is rethrown once every call is settled. An environment that is
// ending gets nothing more: the rest of the batch is dropped.
void completeCalls(napi_env env, napi_value onDone, void*, void* data) {
  const std::unique_ptr<EnvSink::Batch> batch(static_cast<EnvSink::Batch*>(data));
  if (env == nullptr || onDone == nullptr) return;  // the environment is going away
  EnvCalls* calls = Napi::Env(env).GetInstanceData<EnvCalls>();
  if (calls == nullptr) return;
  napi_value makeRecord = nullptr;
  if (napi_get_reference_value(env, calls->makeRecord, &makeRecord) != napi_ok) return;
  napi_ref thrown = nullptr;
  for (const std::shared_ptr<QueuedCall>& call : *batch) {
    const auto found = calls->pending.find(call->tag);
    if (found == calls->pending.end()) continue;
    napi_value callback = onDone;
    if (!found->second.onDone.IsEmpty() &&
        napi_get_reference_value(env, found->second.onDone, &callback) != napi_ok) {
      return;
    }
    calls->pending.erase(found);
    if (settle(env, makeRecord, callback, *call)) continue;
    if (!exceptionPending(env)) return;  // the environment is ending
    napi_value error = nullptr;
    napi_get_and_clear_last_exception(env, &error);
    if (thrown == nullptr) napi_create_reference(env, error, 1, &thrown);
  }
  if (calls->pending.empty()) napi_unref_threadsafe_function(env, calls->tsfn);
  if (thrown == nullptr) return;
  napi_value error = nullptr;
  napi_get_reference_value(env, thrown, &error);
  napi_delete_reference(env, thrown);
  napi_throw(env, error);
}

void closeSink(napi_env, void* data, void*) {
  const std::unique_ptr<std::shared_ptr<EnvSink>> held(static_cast<std::shared_ptr<EnvSink>*>(data));
  (*held)->close();
}

}  // namespace

EnvCalls::EnvCalls(Napi::Env env) {
  napi_value made = nullptr;
  napi_run_script(env, Napi::String::New(env, kRecordSource), &made);
  if (made != nullptr) makeRecord = Napi::Persistent(Napi::Value(env, made).As<Napi::Function>());
}

EnvCalls::~EnvCalls() {
  for (auto& entry : pending) cancelQueuedCall(*entry.second.call);
}

EnvCalls* envCalls(Napi::Env env, Napi::Function onDone) {
  EnvCalls* calls = env.GetInstanceData<EnvCalls>();
  if (calls != nullptr) return calls;
  auto made = std::make_unique<EnvCalls>(env);
  auto* held = new std::shared_ptr<EnvSink>(std::make_shared<EnvSink>());
  napi_threadsafe_function tsfn = nullptr;
  if (made->makeRecord.IsEmpty() ||
      napi_create_threadsafe_function(env, onDone, nullptr, Napi::String::New(env, "zel"), 0, 1,
                                      held, closeSink, nullptr, completeCalls,
                                      &tsfn) != napi_ok) {
    delete held;
    if (!env.IsExceptionPending()) {
      Napi::Error::New(env, "zel: no completion channel").ThrowAsJavaScriptException();
    }
    return nullptr;
  }
  napi_unref_threadsafe_function(env, tsfn);
  (*held)->open(tsfn);
  made->sink = *held;
  made->tsfn = tsfn;
  made->firstOnDone = Napi::Persistent(onDone);
  calls = made.release();
  env.SetInstanceData(calls);
  return calls;
}
