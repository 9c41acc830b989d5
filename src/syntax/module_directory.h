// The syntax module directory, <app>/node_modules/korrin_linux/, as
// matches see it: worked out once per disk generation, in directory order.
#ifndef ZEL_SYNTAX_MODULE_DIRECTORY_H_
#define ZEL_SYNTAX_MODULE_DIRECTORY_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "modules/module_call.h"
#include "call/call.h"

// A syntax module of the module directory.
struct SyntaxModule {
  std::string path;                      // "" for an entry without extension
  const LoadedModule* loaded = nullptr;  // looked up at its first call
  bool skipsOtherForms = false;          // `loaded` declares its other-form answer
  SyntaxEntries entries;                 // `loaded`'s, to call it directly (null: not cached)
};

// A named module as a match calls it without its record: its entries and
// its path (by which a crash or a throw names it).
struct DirectModule {
  SyntaxEntries entries;
  const std::string* path = nullptr;
};

// One module per entry that names a syntax module, one without path per
// entry without an extension, in directory order.
struct ModuleDirectory {
  bool missing = false;
  // cache_use::evictions() when the modules' `loaded` were taken: a module
  // entry may have left its cache since.
  uint64_t evictionsSeen = 0;
  std::vector<SyntaxModule> modules;
  // The positions of the modules with a path, in order: a form is offered
  // to those only (an entry without extension is the same fact for every
  // form, `pathless`).
  std::vector<size_t> named;
  // Every module declares its other-form answer: a form that cannot be the
  // statement's is owed by all of them at once.
  bool allSkip = false;
  bool pathless = false;  // some entry has no extension (set when listed)
  size_t lastModule = 0;  // 1 + the position of the last module
  // Every named module has its entries and none declares its other-form
  // answer: a form is offered to `direct`, one per position of `named`, with
  // nothing to decide per module. `direct` is sized once, as `named` is
  // listed, and only written in place afterwards, so that a module calling
  // back into the engine never moves it under a match going through it.
  bool allDirect = false;
  std::vector<DirectModule> direct;
};

// Works allSkip, pathless, lastModule, allDirect and `direct` out again
// from the modules.
void updateAllSkip(ModuleDirectory& directory);

// Matches share the directory as it was when they began: a module that
// calls back into the engine may have it read afresh, and the match that
// was asking it goes on with the one it holds.
using SharedDirectory = std::shared_ptr<ModuleDirectory>;

// The module directory of the call's application, from its cache; `lasting`
// tells whether it is kept for the current disk generation.
SharedDirectory moduleDirectory(const Call& call, bool& lasting);

// Forgets the modules' entries when cache entries were evicted since they
// were taken: they may be gone.
void dropEvictedModules(ModuleDirectory& directory);

#endif  // ZEL_SYNTAX_MODULE_DIRECTORY_H_
