// The room a match works in: what it keeps from one statement to the next.
#ifndef ZEL_SYNTAX_MATCH_ROOM_H_
#define ZEL_SYNTAX_MATCH_ROOM_H_

#include <cstdint>
#include <string>
#include <vector>

#include "cache/disk_cache.h"
#include "cache/watch.h"
#include "call/call.h"
#include "modules/module_call.h"
#include "syntax/module_directory.h"
#include "syntax/syntax_forms.h"

// The room a match works in, kept from one statement to the next: the
// stripped statement, the modules that owe an answer for forms they were
// not offered (null: none owed), by directory position, and what the
// latest match at this level looked up.
struct MatchRoom {
  std::string statement;
  std::vector<const LoadedModule*> owed;
  bool owedClear = false;  // every entry of `owed` is null (the last match here ended normally)
  // The forms of formsPath and the module directory of app, as cached in
  // the disk generation and with the evictions count noted: while both
  // are the same, the caches would give the same ones back.
  SharedForms forms;
  SharedDirectory directory;
  std::string app, formsPath;
  uint64_t appSerial = 0;  // the serial given with `app` (Call::appSerial)
  uint64_t generation = 0;  // 0: nothing kept
  uint64_t evictions = 0;
};

// True when the room still holds what the caches would give for the
// call's syntax file `path`.
inline bool roomHolds(MatchRoom& room, const Call& call, const std::string& path) {
  if (room.generation == 0 || room.generation != diskGeneration() ||
      room.evictions != cache_use::evictions() || room.formsPath != path) {
    return false;
  }
  if (room.appSerial != call.appSerial()) {
    if (room.app != call.app()) return false;
    room.appSerial = call.appSerial();
  }
  return true;
}

// Looks the forms of `path` and the module directory up afresh for the
// room (when it does not hold them). Null when the syntax file cannot be
// opened.
const std::vector<SyntaxForm>* lookUpForms(MatchRoom& room, const Call& call,
                                           const std::string& path);

#endif  // ZEL_SYNTAX_MATCH_ROOM_H_
