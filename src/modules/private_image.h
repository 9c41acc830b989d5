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
// - writable pages are made private where they are (the kernel breaks their
//   sharing with the file as a write would), so what the object's
//   constructors, and the threads they started, wrote and go on writing is
//   kept;
// - zero-filled pages past the file's data are not the file's, and are left
//   alone.
#ifndef ZEL_MODULES_PRIVATE_IMAGE_H_
#define ZEL_MODULES_PRIVATE_IMAGE_H_

#include <cstdint>
#include <vector>

// The load addresses of the shared objects in the process now, the
// executable included.
std::vector<uintptr_t> loadedObjects();

// Makes every object loaded since `before` (an earlier loadedObjects())
// independent of its file, as above: a module and the libraries loaded
// with it. An object another thread is still loading is waited for first.
// Costs the size of each object's file data in memory, not shared with
// other processes.
void privatizeLoadedSince(const std::vector<uintptr_t>& before);

#endif  // ZEL_MODULES_PRIVATE_IMAGE_H_
