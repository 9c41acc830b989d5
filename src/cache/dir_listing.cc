#include "cache/dir_listing.h"

#include <dirent.h>

#include "cache/disk_cache.h"
#include "base/text.h"

std::vector<std::string> entryNamePieces(const std::string& name) {
  std::vector<std::string> pieces;
  size_t start = 0;
  while (start <= name.size()) {
    size_t dot = name.find('.', start);
    if (dot == std::string::npos) dot = name.size();
    if (dot > start) pieces.push_back(name.substr(start, dot - start));
    start = dot + 1;
  }
  return pieces;
}

const DirListing& listDirectory(const std::string& app, const std::string& dir) {
  // node_modules, korrin_linux and a pack directory or two per application.
  static auto* cache = new DiskCache<DirListing>(4 * kCachedApplications);
  return cachedEntry(*cache, app, dir, true, [&](DirListing& listing) {
    listing.exists = IsPathExist(dir);
    if (DIR* d = holdsNul(dir) ? nullptr : opendir(dir.c_str())) {
      listing.opened = true;
      while (const dirent* entry = readdir(d)) {
        listing.pieces.push_back(entryNamePieces(entry->d_name));
      }
      closedir(d);
    }
  });
}
