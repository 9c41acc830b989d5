// Loaded shared objects whose memory no longer depends on their files.
//
// The loader maps a shared object from its file: every page the object has
// not written yet is the file's page, so a file written over in place
// changes the object's code and data under it, and the process crashes at
// the latest when it exits and the loader calls the object's finalisers.
// privatizeLoadedSince() gives each object loaded since a snapshot pages of
// its own, losing no write:
// - read-only pages (code, read-only data and the part the loader made
//   read-only after relocation), which nothing writes, are copied and the
//   copy is moved over them in one step, so code running there meanwhile
//   never sees them unmapped;
// - writable pages are copied the same way when the load started no thread
//   (only the loading thread ran the objects' code, and it is here); when
//   it did (a constructor that starts a worker), a copy would lose what
//   those threads write meanwhile, so the pages are made private where
//   they are instead (the kernel breaks their sharing with the file as a
//   write would). Such pages stay tied to the file in one way: a file cut
//   short (truncated) takes them back, and they read as the file's new
//   content.
// Zero-filled pages past the file's data are not the file's, and are left
// alone.
#ifndef ZEL_MODULES_PRIVATE_IMAGE_H_
#define ZEL_MODULES_PRIVATE_IMAGE_H_

#include <cstdint>
#include <string>
#include <vector>

// What the process holds before a load: its objects (by load address) and
// its threads (ids, sorted; threadsSeen is false without /proc).
struct LoadSnapshot {
  std::vector<uintptr_t> objects;
  std::vector<std::string> threads;
  bool threadsSeen = false;
};

// The process as it is now, to be taken just before a load.
LoadSnapshot snapshotBeforeLoad();

// Makes every object loaded since `before` independent of its file, as
// above: a module and the libraries loaded with it. An object another
// thread is still loading is waited for first. Costs the size of each
// object's file data in memory, not shared with other processes.
void privatizeLoadedSince(const LoadSnapshot& before);

#endif  // ZEL_MODULES_PRIVATE_IMAGE_H_
