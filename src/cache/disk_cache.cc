#include "cache/disk_cache.h"

#include <limits>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

struct ApplicationRecord {
  uint32_t id;
  uint64_t used;  // use stamp of the latest statement or new entry for it
};

// The application directories the caches hold entries for, and the caches
// themselves, to evict an application's entries from each.
struct Applications {
  std::unordered_map<std::string, ApplicationRecord> applications;
  ApplicationRecord* current = nullptr;  // the application used last
  std::string currentPath;
  uint64_t currentSerial = 0;  // the serial given with currentPath, or 0
  uint32_t nextApplication = 1;
  std::vector<cache_use::Evictable*> caches;
};

Applications& applications() {
  static auto* a = new Applications;  // never destroyed: used until the process ends
  return *a;
}

// Forgets the least recently used applications beyond the bound, with
// every cache entry made for them.
void evictApplications(Applications& a) {
  while (a.applications.size() > kCachedApplications) {
    auto oldest = a.applications.end();
    for (auto it = a.applications.begin(); it != a.applications.end(); ++it) {
      if (&it->second == a.current) continue;
      if (oldest == a.applications.end() || it->second.used < oldest->second.used) oldest = it;
    }
    const uint32_t id = oldest->second.id;
    a.applications.erase(oldest);
    for (cache_use::Evictable* cache : a.caches) cache->evictApplication(id);
  }
}

}  // namespace

namespace cache_use {

Evictable::Evictable() { applications().caches.push_back(this); }

uint32_t lookUpApplication(const std::string& app, uint64_t appSerial) {
  Applications& a = applications();
  if (a.current == nullptr ||
      ((appSerial == 0 || appSerial != a.currentSerial) && a.currentPath != app)) {
    auto added = a.applications.try_emplace(app, ApplicationRecord{a.nextApplication, 0});
    if (added.second) ++a.nextApplication;
    a.current = &added.first->second;
    a.currentPath = app;
    if (added.second) evictApplications(a);
  }
  a.currentSerial = appSerial;
  a.current->used = stamp();
  // The current record is never evicted: its fields stay where they are.
  lastApplication = {appSerial, &a.current->used, a.current->id};
  return a.current->id;
}

Counters counters;
LastApplication lastApplication;

}  // namespace cache_use

EntrySources* EntrySources::building_ = nullptr;

EntrySources::EntrySources(WatchSet& held) : held_(held), outer_(building_) { building_ = this; }

EntrySources::~EntrySources() { building_ = outer_; }

void EntrySources::rest(const WatchSet& watches, bool cacheable) {
  if (!cacheable || !holdWatches(watches, held_)) cacheable_ = false;
}

void openStatement(const std::string& app, uint64_t appSerial) {
  // What the outermost statement looks up stays in the caches until it ends.
  if (beginStatementView()) cache_use::counters.pinnedFrom = cache_use::counters.stamp + 1;
  cache_use::application(app, appSerial);
}

void closeStatement() {
  endStatementView();
  if (!insideStatement()) cache_use::counters.pinnedFrom = std::numeric_limits<uint64_t>::max();
}
