#include "support/dir_cache.h"

#include <dirent.h>

#include <unordered_map>

#include "support/disk_watch.h"
#include "support/text.h"

const DirListing& listDirectory(const std::string& dir) {
  static auto* cache = new std::unordered_map<std::string, DirListing>;
  const uint64_t generation = diskGeneration();
  DirListing& listing = (*cache)[dir];
  if (listing.generation == generation) return listing;
  const bool cacheable = watchDirectory(dir);
  listing = DirListing();
  listing.exists = IsPathExist(dir);
  if (DIR* d = opendir(dir.c_str())) {
    listing.opened = true;
    while (const dirent* entry = readdir(d)) listing.names.push_back(entry->d_name);
    closedir(d);
  }
  listing.generation = cacheable ? generation : 0;
  return listing;
}
