#include "syntax/module_directory.h"

#include "cache/dir_listing.h"
#include "cache/disk_cache.h"
#include "base/text.h"

void updateAllSkip(ModuleDirectory& directory) {
  directory.allSkip = true;
  for (size_t i = 0; i < directory.modules.size(); ++i) {
    const SyntaxModule& module = directory.modules[i];
    if (module.path.empty()) {
      directory.pathless = true;
      continue;
    }
    directory.lastModule = i + 1;
    if (!module.skipsOtherForms) directory.allSkip = false;
  }
  if (directory.lastModule == 0) directory.allSkip = false;
  directory.allDirect = !directory.named.empty();
  for (size_t k = 0; k < directory.named.size(); ++k) {
    const SyntaxModule& module = directory.modules[directory.named[k]];
    directory.direct[k] = {module.entries, &module.path};
    if (module.entries.create == nullptr || module.skipsOtherForms) directory.allDirect = false;
  }
}

namespace {

// True when the listing holds NAME.so beside the entry NAME.js `pieces`:
// the shared object is the module then.
bool listsSharedObject(const DirListing& listing, const std::vector<std::string>& pieces) {
  for (const std::vector<std::string>& other : listing.pieces) {
    if (other.size() >= 2 && other[1] == "so" && other[0] == pieces[0]) return true;
  }
  return false;
}

}  // namespace

SharedDirectory moduleDirectory(const Call& call, bool& lasting) {
  struct Cached {
    uint64_t generation = 0;
    SharedDirectory directory;
  };
  static auto* cache = new DiskCache<Cached>(kCachedApplications);
  const std::string& app = call.app();
  const std::string& dir = call.syntaxModuleDir();
  const Cached& found = cachedEntry(*cache, app, dir, true, [&](Cached& cached) {
    cached.directory = std::make_shared<ModuleDirectory>();
    ModuleDirectory& entry = *cached.directory;
    const DirListing& listing = listDirectory(app, dir);
    if (!listing.exists) {
      entry.missing = true;
      return;
    }
    for (const std::vector<std::string>& pieces : listing.pieces) {
      if (pieces.size() < 2) {
        entry.modules.emplace_back();
        entry.pathless = true;
      } else if (pieces[1] == "so" || (pieces[1] == "js" && !listsSharedObject(listing, pieces))) {
        entry.named.push_back(entry.modules.size());
        entry.modules.emplace_back();
        entry.modules.back().path = withoutLineBreaks(dir + pieces[0] + "." + pieces[1]);
      }
    }
    entry.direct.resize(entry.named.size());
  });
  lasting = found.generation != 0;
  return found.directory;
}

void dropEvictedModules(ModuleDirectory& directory) {
  if (directory.evictionsSeen == cache_use::evictions()) return;
  for (SyntaxModule& module : directory.modules) {
    module.loaded = nullptr;
    module.skipsOtherForms = false;
    module.entries = SyntaxEntries();
  }
  directory.allSkip = false;
  directory.allDirect = false;
  directory.evictionsSeen = cache_use::evictions();
}
