// Directory listings, read once per disk generation.
#ifndef ZEL_SUPPORT_DIR_CACHE_H_
#define ZEL_SUPPORT_DIR_CACHE_H_

#include <cstdint>
#include <string>
#include <vector>

struct DirListing {
  bool exists = false;             // IsPathExist(dir)
  bool opened = false;             // opendir(dir) succeeded
  std::vector<std::string> names;  // entries in the order readdir gave them, "." and ".." included
  uint64_t generation = 0;
};

// The listing of `dir` as opendir/readdir give it now; served from the cache
// while nothing under the directory has changed.
const DirListing& listDirectory(const std::string& dir);

#endif  // ZEL_SUPPORT_DIR_CACHE_H_
