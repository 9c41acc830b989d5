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
// relative path (the working directory may change unseen), a path holding a
// NUL byte (never handed to the C library), no inotify, or a watch that
// could not be set (caching then stops for the process).
bool watchPath(const std::string& path);

// Watches a directory's own entries as well as what watchPath watches;
// returns false as watchPath does.
bool watchDirectory(const std::string& dir);

// False once caching has stopped for the process (no inotify, or a watch
// that could not be set).
bool diskCachingWorks();

// A cache of what was read from disk, by path. Entry needs a `generation`
// member (0 when new). The few paths looked up last are remembered, so that
// the lookups a statement repeats compare paths instead of hashing them.
template <class Entry>
struct DiskCache {
  static constexpr int kRecent = 4;
  std::unordered_map<std::string, Entry> entries;
  // Map nodes never move, so these stay valid as the map grows.
  const std::string* recentPaths[kRecent] = {};
  Entry* recentEntries[kRecent] = {};
  int nextRecent = 0;

  Entry& operator[](const std::string& path) {
    for (int i = 0; i < kRecent; ++i) {
      if (recentPaths[i] != nullptr && *recentPaths[i] == path) return *recentEntries[i];
    }
    auto& node = *entries.try_emplace(path).first;
    recentPaths[nextRecent] = &node.first;
    recentEntries[nextRecent] = &node.second;
    nextRecent = (nextRecent + 1) % kRecent;
    return node.second;
  }
};

// The entry for `path`, rebuilt by `read(entry)` unless it was built in the
// current disk generation. `read` gets a fresh entry; the path (a directory
// when `isDirectory`) is watched before it runs.
template <class Entry, class Read>
Entry& cachedEntry(DiskCache<Entry>& cache, const std::string& path, bool isDirectory,
                   Read read) {
  const uint64_t generation = diskGeneration();
  Entry& entry = cache[path];
  if (entry.generation != generation) {
    const bool watched = isDirectory ? watchDirectory(path) : watchPath(path);
    entry = Entry();
    read(entry);
    // `read` may have looked other paths up (an entry built from others);
    // if one of them could not be watched, neither can this entry be kept.
    entry.generation = watched && diskCachingWorks() ? generation : 0;
  }
  return entry;
}

// One statement: checks for changes once when it starts; cache lookups made
// until it ends use that view. Scopes may nest (a module calling back into
// the engine); each one checks again when it starts.
class StatementScope {
 public:
  StatementScope();
  // Joins the statement in progress when there is one (no check); opens a
  // statement otherwise. For steps that are run inside a statement and also
  // on their own.
  enum Join { kJoin };
  explicit StatementScope(Join);
  ~StatementScope();
  StatementScope(const StatementScope&) = delete;
  StatementScope& operator=(const StatementScope&) = delete;

 private:
  bool opened_;
};

#endif  // ZEL_SUPPORT_DISK_WATCH_H_
