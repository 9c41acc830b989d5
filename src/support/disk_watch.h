// Knowing cheaply whether the files the engine has read may have changed.
//
// The engine keeps what it reads from disk (the catalogue, syntax files,
// directory listings, loaded modules) in caches, so that a statement costs
// little more than its module calls. A cache is valid only while nothing
// that decided its content has changed on disk: each cache remembers the
// disk generation it was built in, and the generation moves on whenever a
// watched directory reports a change (inotify). Where inotify cannot be
// used, every generation is new, so nothing is ever served from a cache.
//
// Checking for changes costs a system call. Outside a statement each check
// makes one; a statement (StatementScope) checks once when it starts and
// uses that view until it ends, so changes are seen at the next statement.
#ifndef ZEL_SUPPORT_DISK_WATCH_H_
#define ZEL_SUPPORT_DISK_WATCH_H_

#include <cstdint>
#include <string>
#include <unordered_map>

// The current disk generation. Checks for changes first, unless a statement
// is in progress.
uint64_t diskGeneration();

// Watches what decides the content of `path`: its directory (entries
// created, removed, renamed, written or changed in mode) and every
// directory above it (renamed, removed or changed in mode). Call it before
// reading `path`, so that a change made while reading is not missed.
// Returns false when what is read from `path` must not be cached: a
// relative path (the working directory may change unseen), no inotify, or
// a watch that could not be set (caching then stops for the process).
bool watchPath(const std::string& path);

// Watches a directory's own entries as well as what watchPath watches;
// returns false as watchPath does.
bool watchDirectory(const std::string& dir);

// A cache of what was read from disk, by path. Entry needs a `generation`
// member (0 when new).
template <class Entry>
using DiskCache = std::unordered_map<std::string, Entry>;

// The entry for `path`, rebuilt by `read(entry)` unless it was built in the
// current disk generation. `read` gets a fresh entry; the path (a directory
// when `isDirectory`) is watched before it runs.
template <class Entry, class Read>
Entry& cachedEntry(DiskCache<Entry>& cache, const std::string& path, bool isDirectory,
                   Read read) {
  const uint64_t generation = diskGeneration();
  Entry& entry = cache[path];
  if (entry.generation != generation) {
    const bool cacheable = isDirectory ? watchDirectory(path) : watchPath(path);
    entry = Entry();
    read(entry);
    entry.generation = cacheable ? generation : 0;
  }
  return entry;
}

// One statement: checks for changes once when it starts; cache lookups made
// until it ends use that view. Scopes may nest (a module calling back into
// the engine); each one checks again when it starts.
class StatementScope {
 public:
  StatementScope();
  ~StatementScope();
  StatementScope(const StatementScope&) = delete;
  StatementScope& operator=(const StatementScope&) = delete;
};

#endif  // ZEL_SUPPORT_DISK_WATCH_H_
