#include "syntax/match_room.h"

#include "cache/disk_cache.h"

const std::vector<SyntaxForm>* lookUpForms(MatchRoom& room, const Call& call,
                                           const std::string& path) {
  bool formsLast = false, directoryLasts = false;
  room.generation = 0;
  room.forms = syntaxForms(call.app(), path, &formsLast);
  if (room.forms == nullptr) return nullptr;
  room.directory = moduleDirectory(call, directoryLasts);
  dropEvictedModules(*room.directory);
  if (formsLast && directoryLasts) {
    room.app = call.app();
    room.appSerial = call.appSerial();
    room.formsPath = path;
    room.generation = diskGeneration();
    room.evictions = cache_use::evictions();
  }
  return room.forms.get();
}
