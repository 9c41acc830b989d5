// Which module runs: the module calls name it here, and the floors above
// (the crash notes of the host, the record of recordedCall) read it.
#ifndef ZEL_MODULES_RUNNING_MODULE_H_
#define ZEL_MODULES_RUNNING_MODULE_H_

#include <atomic>
#include <string>

// The path of the module whose code runs (its create, operation or
// destroy); null between module calls. Written around every module call:
// hidden, so that the add-on reaches it directly, not through its symbol
// table.
extern std::atomic<const char*> moduleInCall __attribute__((visibility("hidden")));

// Names a module as the one running for as long as it lives; `path` must
// outlive it.
class RunningModule {
 public:
  explicit RunningModule(const std::string& path)
      : outer_(moduleInCall.load(std::memory_order_relaxed)) {
    moduleInCall.store(path.c_str(), std::memory_order_relaxed);
  }
  ~RunningModule() { moduleInCall.store(outer_, std::memory_order_relaxed); }
  RunningModule(const RunningModule&) = delete;
  RunningModule& operator=(const RunningModule&) = delete;

 private:
  const char* outer_;
};

// Names the module being called when an exception leaves it, for the
// record of the call that catches it (recordedCall). Called while the exception
// propagates.
void noteThrowingModule(const std::string& path);
// The module noted last; "" when none.
const std::string& throwingModule();
// Forgets it, as a call starts.
void clearThrowingModule();

#endif  // ZEL_MODULES_RUNNING_MODULE_H_
