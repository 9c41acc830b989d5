// The caches of what the engine reads from disk.
//
// The engine keeps what it reads from disk (the catalogue, syntax files,
// directory listings, loaded modules) in caches, so that a statement costs
// little more than its module calls. Each entry remembers the disk
// generation it was built in (cache/watch.h) and holds the watches it rests
// on; it is built again at its first use after anything it rests on
// changed. The caches keep the entries of the kCachedApplications
// application directories used last (least recently used out first), and
// each has a ceiling of its own; what is evicted gives its watches back.
// Entries the statement in progress has looked up are never evicted during
// it. What a caller keeps across statements without looking it up again (a
// match level's forms and module directory) is not pinned so: it may be
// evicted during a later statement, by a module calling back into the
// engine, say. The match holds those two by shared pointer, so their memory
// stays valid; it drops the module pointers the directory took from a cache
// as soon as evictions() moved (checked after every module call), and looks
// both up again at its next statement when the disk generation or
// evictions() moved since it kept them, so what an evicted entry's lost
// watches can no longer vouch for is not used past the statement in
// progress.
#ifndef ZEL_CACHE_DISK_CACHE_H_
#define ZEL_CACHE_DISK_CACHE_H_

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>
#include <string>
#include <unordered_map>

#include "cache/watch.h"

// How many application directories the caches are sized for.
constexpr size_t kCachedApplications = 64;

// Bookkeeping shared by the caches below.
namespace cache_use {
// What every cache can be asked to give up.
class Evictable {
 public:
  Evictable();  // registers the cache for application evictions
  // Evicts the entries made for application `app` (an id from
  // application()) that the statement in progress does not use.
  virtual void evictApplication(uint32_t app) = 0;

 protected:
  ~Evictable() = default;
};
// The id of the application directory `app`, among the kCachedApplications
// used last, marked as used now. Taking in a new one evicts the entries of
// the least recently used one from every cache. `appSerial`, when not 0,
// stands for the text of `app` (the same serial is never given with another
// text), so that the text is compared only when the serial changes.
inline uint32_t application(const std::string& app, uint64_t appSerial = 0);
// Counters every lookup touches, kept inline-reachable since they are on
// the path of every statement.
struct Counters {
  uint64_t stamp = 0;
  // The first stamp of the outermost statement in progress (none: max).
  uint64_t pinnedFrom = std::numeric_limits<uint64_t>::max();
  uint64_t evictions = 0;
};
extern Counters counters __attribute__((visibility("hidden")));  // reached directly in the add-on
// A new use stamp, later than every one before.
inline uint64_t stamp() { return ++counters.stamp; }
// True when an entry last used at `stamp` may be in use by the statement
// in progress (which may hold references to it): it is not evicted then.
inline bool pinned(uint64_t stamp) { return stamp >= counters.pinnedFrom; }
// Counts an eviction; evictions() tells whether references taken from a
// cache earlier may have gone.
inline void evicted() { ++counters.evictions; }
inline uint64_t evictions() { return counters.evictions; }

// The application used last, as application() reads it inline on every
// statement: the serial given with it (0: none) and its record's use stamp
// and id.
struct LastApplication {
  uint64_t serial = 0;
  uint64_t* used = nullptr;
  uint32_t id = 0;
};
extern LastApplication lastApplication __attribute__((visibility("hidden")));
// application() for another serial than the last one's.
uint32_t lookUpApplication(const std::string& app, uint64_t appSerial);

inline uint32_t application(const std::string& app, uint64_t appSerial) {
  if (appSerial != 0 && appSerial == lastApplication.serial) {
    *lastApplication.used = stamp();
    return lastApplication.id;
  }
  return lookUpApplication(app, appSerial);
}
}  // namespace cache_use

// A cache of what was read from disk, by path, holding at most `capacity`
// entries beyond those the statement in progress uses. Entry needs a
// `generation` member (0 when new or not cacheable). The few paths looked up
// last are remembered, so that the lookups a statement repeats compare paths
// instead of hashing them.
template <class Entry>
class DiskCache : public cache_use::Evictable {
 public:
  struct Node {
    Entry entry;
    WatchSet watches;   // the watches the entry rests on
    uint64_t used = 0;  // cache_use stamp of the latest lookup
    uint32_t app = 0;   // the application it was made for
    bool readBefore = false;  // read once already: worth watching now
  };

  explicit DiskCache(size_t capacity) : capacity_(capacity) {}

  // The node for `path`, made empty when new (for the application `app`).
  // A new node may push the least recently used ones out.
  Node& node(const std::string& app, const std::string& path) {
    for (int i = 0; i < kRecent; ++i) {
      if (recentPaths_[i] != nullptr && *recentPaths_[i] == path) {
        recentNodes_[i]->used = cache_use::stamp();
        return *recentNodes_[i];
      }
    }
    auto inserted = entries_.try_emplace(path);
    auto& item = *inserted.first;
    item.second.used = cache_use::stamp();
    if (inserted.second) {
      item.second.app = cache_use::application(app);
      trim();
    }
    // Map nodes never move, so these stay valid until the node is evicted.
    recentPaths_[nextRecent_] = &item.first;
    recentNodes_[nextRecent_] = &item.second;
    nextRecent_ = (nextRecent_ + 1) % kRecent;
    return item.second;
  }

  size_t size() const { return entries_.size(); }

  void evictApplication(uint32_t app) override {
    for (auto it = entries_.begin(); it != entries_.end();) {
      auto next = std::next(it);
      if (it->second.app == app && !cache_use::pinned(it->second.used)) evict(it);
      it = next;
    }
  }

 private:
  static constexpr int kRecent = 4;
  using Iterator = typename std::unordered_map<std::string, Node>::iterator;

  void evict(Iterator it) {
    for (int i = 0; i < kRecent; ++i) {
      if (recentNodes_[i] == &it->second) recentPaths_[i] = nullptr;
    }
    releaseWatches(it->second.watches);
    entries_.erase(it);
    cache_use::evicted();
  }

  // Evicts least recently used entries the statement does not use until the
  // cache holds no more than its capacity. Runs only when an entry was
  // added, which already costs a read from disk.
  void trim() {
    while (entries_.size() > capacity_) {
      auto oldest = entries_.end();
      for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (cache_use::pinned(it->second.used)) continue;
        if (oldest == entries_.end() || it->second.used < oldest->second.used) oldest = it;
      }
      if (oldest == entries_.end()) return;
      evict(oldest);
    }
  }

  size_t capacity_;
  std::unordered_map<std::string, Node> entries_;
  const std::string* recentPaths_[kRecent] = {};
  Node* recentNodes_[kRecent] = {};
  int nextRecent_ = 0;
};

// While an entry is being built, the entries it is built from: their
// watches go to the new entry as well, and one that cannot be cached makes
// the new entry uncacheable.
class EntrySources {
 public:
  explicit EntrySources(WatchSet& held);
  ~EntrySources();
  EntrySources(const EntrySources&) = delete;
  EntrySources& operator=(const EntrySources&) = delete;
  // False when a source could not be cached.
  bool cacheable() const { return cacheable_; }
  // Tells the entry being built, if any, that it rests on a source.
  static void note(const WatchSet& watches, bool cacheable) {
    if (building_ != nullptr) building_->rest(watches, cacheable);
  }

 private:
  void rest(const WatchSet& watches, bool cacheable);

  static EntrySources* building_;
  WatchSet& held_;
  bool cacheable_ = true;
  EntrySources* outer_;
};

// The entry for `path`, made for the application `app`, rebuilt by
// `read(entry)` unless it was built in the current disk generation. `read`
// gets a fresh entry; the path (a directory when `isDirectory`) is watched
// before it runs. The first read of a path sets no watches and is not kept
// (it is read afresh at its next use, which watches it): a path used once
// costs no watches.
template <class Entry, class Read>
Entry& cachedEntry(DiskCache<Entry>& cache, const std::string& app, const std::string& path,
                   bool isDirectory, Read read) {
  const uint64_t generation = diskGeneration();
  auto& node = cache.node(app, path);
  if (node.entry.generation != generation) {
    WatchSet watches;
    bool watched = false;
    {
      const EntrySources sources(watches);
      if (node.readBefore) {
        watched = isDirectory ? watchDirectory(path, watches) : watchPath(path, watches);
      }
      node.readBefore = true;
      node.entry = Entry();
      read(node.entry);
      watched = watched && sources.cacheable();
    }
    // The new watches are taken before the old ones are given back, so that
    // those both rest on stay in place.
    releaseWatches(node.watches);
    if (watched) {
      node.watches = std::move(watches);
    } else {
      releaseWatches(watches);
    }
    node.entry.generation = watched ? generation : 0;
  }
  EntrySources::note(node.watches, node.entry.generation != 0);
  return node.entry;
}

// Opens a statement (what StatementScope does) for `app`.
void openStatement(const std::string& app, uint64_t appSerial);
// Closes the statement opened last.
void closeStatement();

// One statement of the application `app`: checks for changes once when it
// starts (cache/watch.h); cache lookups made until it ends use that view,
// and the entries it looks up stay in the caches until it ends. Scopes may
// nest (a module calling back into the engine); each one checks again when
// it starts.
class StatementScope {
 public:
  // `appSerial` as for cache_use::application.
  explicit StatementScope(const std::string& app, uint64_t appSerial = 0) : opened_(true) {
    openStatement(app, appSerial);
  }
  // Joins the statement in progress when there is one (no check); opens a
  // statement otherwise. For steps that are run inside a statement and also
  // on their own. Inline, as every match joins its statement.
  enum Join { kJoin };
  StatementScope(const std::string& app, Join) : opened_(!insideStatement()) {
    if (opened_) openStatement(app, 0);
  }
  ~StatementScope() {
    if (opened_) closeStatement();
  }
  StatementScope(const StatementScope&) = delete;
  StatementScope& operator=(const StatementScope&) = delete;

 private:
  bool opened_;
};

#endif  // ZEL_CACHE_DISK_CACHE_H_
