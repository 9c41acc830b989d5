#include "modules/call_state.h"

namespace {

// The classic exports' store: never freed, as a module's statics are not.
CallStateStore& processStore() {
  static auto* store = new CallStateStore;
  return *store;
}

CallStateStore* current = nullptr;
uint64_t storeSerial = 0;  // counts the changes of `current`

void* stateOfCall(const void* key, void* (*make)(), void (*drop)(void*)) {
  return (current != nullptr ? *current : processStore()).get(key, make, drop);
}

const ZelCallStateApi kApi{stateOfCall};

}  // namespace

CallStateStore::~CallStateStore() {
  // Latest first: a state made while another was in use may refer to it.
  for (auto entry = entries_.rbegin(); entry != entries_.rend(); ++entry) entry->drop(entry->state);
}

void* CallStateStore::get(const void* key, void* (*make)(), void (*drop)(void*)) {
  for (const Entry& entry : entries_) {
    if (entry.key == key) return entry.state;
  }
  entries_.push_back({key, make(), drop});
  return entries_.back().state;
}

CallStateStore* useCallStateStore(CallStateStore* store) {
  CallStateStore* const before = current;
  current = store;
  ++storeSerial;
  return before;
}

uint64_t callStateSerial() { return storeSerial; }

const ZelCallStateApi* callStateApi() { return &kApi; }
