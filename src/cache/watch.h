// Knowing cheaply whether the files the engine has read may have changed.
//
// The engine keeps what it reads from disk in caches (cache/disk_cache.h).
// An entry is valid only while nothing that decided its content has
// changed: it remembers the disk generation it was built in, and the
// generation moves on whenever a watch reports a change. What is watched
// for a path, walking it from "/" as the kernel resolves it:
//   - every directory passed through: renamed, removed or changed in mode;
//   - every directory that holds a symbolic link on the way: its entries,
//     so that a link switched to another target is seen;
//   - the directory holding the file: its entries; and the file's own
//     inode: written, changed in mode, removed or moved, so that a write
//     through another hard link is seen;
//   - the mount table (/proc/self/mountinfo), so that a mount or unmount
//     over any directory is seen.
// A path where one of these cannot be watched is not cached. Where inotify
// or the mount table cannot be used at all, nothing is ever cached.
//
// Watches are counted by their holders; a watch nothing holds any more is
// removed, and the engine never holds more than watchLimit() watches.
//
// Checking for changes costs one system call (epoll_wait over the inotify
// descriptor and the mount table). Outside a statement each check makes
// one; a statement checks once when it starts and uses that view until it
// ends, so changes are seen at the next statement.
#ifndef ZEL_CACHE_WATCH_H_
#define ZEL_CACHE_WATCH_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A watch held by a cache entry: the inotify watch number and the serial of
// the engine's record of it (a number the kernel hands out again after the
// watch went away is another watch).
struct WatchRef {
  int wd;
  uint64_t serial;
};
using WatchSet = std::vector<WatchRef>;

// The most inotify watches the engine ever holds, whatever the quota.
constexpr size_t kWatchCeiling = 8192;

// The current disk generation. Checks for changes first, unless a statement
// is in progress.
uint64_t diskGeneration();

// A statement starts: checks for changes, then no more until the outermost
// statement ends. Statements nest (a module calling back into the engine);
// each one checks again when it starts. Returns true for the outermost.
bool beginStatementView();
// The statement begun last ends.
void endStatementView();
// True while a statement is in progress.
bool insideStatement();

// Watches what decides what is read from the file `path` (see above) and
// adds the watches to `held`. Call it before reading, so that a change made
// while reading is not missed. Returns false when what is read must not be
// cached: a relative path (the working directory may change unseen), a path
// holding a NUL byte (never handed to the C library), no inotify or mount
// table, too many links, or a watch that could not be set.
bool watchPath(const std::string& path, WatchSet& held);

// The same for a directory whose entries are read.
bool watchDirectory(const std::string& dir, WatchSet& held);

// Gives the watches in `held` back and empties it; a watch nothing holds
// any more is removed from inotify.
void releaseWatches(WatchSet& held);

// Adds to `held` another hold on each watch of `watches`. False when one of
// them is gone (nothing is added then).
bool holdWatches(const WatchSet& watches, WatchSet& held);

// False when nothing can be cached (no inotify or no mount table).
bool diskCachingWorks();

// The most watches the engine holds at once: a quarter of the user's
// inotify quota (the lower of fs.inotify.max_user_watches and the user
// namespace's user.max_inotify_watches), at most kWatchCeiling.
size_t watchLimit();

// The number of watches the engine holds now.
size_t watchesHeld();

#endif  // ZEL_CACHE_WATCH_H_
