// The engine loop's stand-in and its host. When a host (zel's engine
// worker, where JavaScript modules are called) takes the loop, the calls
// made while it starts do not wait for it: a thread of the add-on's own,
// the stand-in, runs them meanwhile and hands the loop over between
// batches once the host has arrived.
//
// A JavaScript module reached on the stand-in is run on the host's thread,
// which owns the module's isolate, while the stand-in waits: the relay
// waits for the host to arrive when it has not yet, hands it the call and
// takes the answer back. While the host runs it, a classic call the module
// makes into the engine is handed back to the stand-in, which holds the
// engine's lock, and its own JavaScript module calls go to the host again:
// exactly one of the two threads runs at a time, each on its own side.
//
// A host that never arrives (its start failed, or it took longer than
// kArrivalWait, the limit for a main thread that may be waiting on the
// engine and so never hears of the failure) leaves the stand-in as the
// loop for good, where JavaScript modules cannot run. When the process
// exits, every wait ends.
#ifndef ZEL_HOST_CALL_QUEUE_RELAY_H_
#define ZEL_HOST_CALL_QUEUE_RELAY_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "modules/script_module.h"

class HostRelay {
 public:
  static constexpr auto kArrivalWait = std::chrono::seconds(20);

  // Stand-in: runs `task` on the host's thread and returns true once it has
  // run; false, without running it, when no host comes or the process exits
  // first. Runs what the host hands back meanwhile.
  bool runOnHost(const std::function<void()>& task);

  // Host: it is here. False when it came too late (no host is awaited any
  // more, or the process exits); then it must not wait for the loop.
  bool arrive();
  bool arrived() const { return arrived_.load(); }
  // Host, once arrived: runs the stand-in's tasks until the loop is handed
  // over (true) or the process exits (false).
  bool awaitLoop();

  // Stand-in, between batches: the loop is the host's from now on.
  void handOver();
  // No host will come (its start failed): waits for one end. Does nothing
  // once it has arrived.
  void abandon();
  // The process exits: every wait ends.
  void exiting();

  // On a host thread running a task of the stand-in's: runs `task` on the
  // stand-in, which waits for that task, and returns true. Elsewhere false,
  // doing nothing.
  static bool runOnWaitingEngine(const std::function<void()>& task);
  // True on a host thread running a task of the stand-in's.
  static bool runsForEngine();

 private:
  struct Task {
    const std::function<void()>* run;
    bool done = false;
  };
  // Waits until `mine`, posted in `posted`, has run, running what comes in
  // `incoming` meanwhile. The stand-in's task is withdrawn when the process
  // exits before the host takes it (false); the host's is always taken.
  bool serveUntilDone(std::unique_lock<std::mutex>& lock, Task& mine, Task*& posted,
                      Task*& incoming, bool onHost);
  void runTaken(std::unique_lock<std::mutex>& lock, Task*& slot, bool onHost);

  std::mutex mutex_;
  std::condition_variable changed_;
  Task* forHost_ = nullptr;    // a task the stand-in waits on
  Task* forEngine_ = nullptr;  // a task the host waits on
  std::atomic<bool> arrived_{false};
  bool gone_ = false;          // no host will come
  bool handedOver_ = false;
  bool exiting_ = false;
};

// The stand-in's script host: each call runs in the host's own script host
// through `relay`; when no host comes, the call fails as on a thread
// without one.
class RelayedScriptHost : public ScriptHost {
 public:
  explicit RelayedScriptHost(HostRelay& relay) : relay_(relay) {}
  bool execute(const ScriptFile& file, const std::string& input, std::string& answer) override;
  bool check(const ScriptFile& file, const std::string& syntaxLine, const std::string& statement,
             std::string& answer) override;
  bool runWhereModulesRun(const std::function<void()>& task) override {
    return relay_.runOnHost(task);
  }

 private:
  template <class Operate>
  bool relayed(const ScriptFile& file, Operate operate, std::string& answer);
  HostRelay& relay_;
};

#endif  // ZEL_HOST_CALL_QUEUE_RELAY_H_
