// The engine's side of the state a module keeps for one call
// (zelCallState, zel_module.h): a store per promise API or pool call, freed
// when the call ends, and one store for the classic exports that lives as
// long as the process. Used on the engine's lock only.
#ifndef ZEL_MODULES_CALL_STATE_H_
#define ZEL_MODULES_CALL_STATE_H_

#include <cstdint>
#include <vector>

#include "modules/zel_module.h"

// The states of one call, each freed by its own drop() when the store is.
class CallStateStore {
 public:
  CallStateStore() = default;
  CallStateStore(const CallStateStore&) = delete;
  CallStateStore& operator=(const CallStateStore&) = delete;
  ~CallStateStore();

  // The state under `key`, made by make() the first time.
  void* get(const void* key, void* (*make)(), void (*drop)(void*));

 private:
  struct Entry {
    const void* key;
    void* state;
    void (*drop)(void*);
  };
  std::vector<Entry> entries_;
};

// Makes `store` the one modules get their state from until the next call;
// null for the process-wide store. Returns the store used before.
CallStateStore* useCallStateStore(CallStateStore* store);

// A number that changes whenever the store in use does: a state read from
// the store stays the one a module would get while it is unchanged.
uint64_t callStateSerial();

// What the engine hands each module it loads.
const ZelCallStateApi* callStateApi();

#endif  // ZEL_MODULES_CALL_STATE_H_
