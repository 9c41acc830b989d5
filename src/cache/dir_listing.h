// Directory listings, read once per disk generation.
#ifndef ZEL_CACHE_DIR_LISTING_H_
#define ZEL_CACHE_DIR_LISTING_H_

#include <cstdint>
#include <string>
#include <vector>

struct DirListing {
  bool exists = false;             // IsPathExist(dir)
  bool opened = false;             // opendir(dir) succeeded
  // Each entry's name cut at ".", in the order readdir gave them ("." and
  // ".." included, with no pieces).
  std::vector<std::vector<std::string>> pieces;
  uint64_t generation = 0;
};

// The pieces of a name cut at ".": the runs between dots, empty runs left
// out ("." and ".." have none, ".bin" has one).
std::vector<std::string> entryNamePieces(const std::string& name);

// The listing of `dir` as opendir/readdir give it now, for the application
// `app`; served from the cache while nothing under the directory has
// changed.
const DirListing& listDirectory(const std::string& app, const std::string& dir);

#endif  // ZEL_CACHE_DIR_LISTING_H_
