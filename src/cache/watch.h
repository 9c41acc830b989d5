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
// descriptor and the mount table), so it is not made for every statement.
// A check is made:
//   - at the first look after a call starts or ends (markCheckDue), so a
//     change made before a call starts is always seen by it, and one made
//     by a nested call is seen by its caller;
//   - when a statement starts at least 100 us of run time after the latest
//     check, so a change another process makes during a run is seen within
//     100 us of run time;
//   - when a statement starts after one that ran 5 us or more (a module that
//     wrote a file takes longer), and at the start of a statement nested in
//     another one (a module calling back into the engine) and at its
//     caller's next statement, so what a module wrote and relies on is seen
//     by the next statement.
// The clock is CLOCK_MONOTONIC, read through the vDSO without a system call.
// A statement uses the view of its start until it ends.
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

// What every statement reads and writes: a plain object, initialized
// before any code runs, so that no guard of a function-local static is
// checked on the way, and read inline (hidden: the add-on reaches it
// directly).
struct DiskView {
  uint64_t generation = 1;
  int statementDepth = 0;
  bool checkDue = true;          // the next look checks, whatever the clock says
  int64_t lastCheckNs = 0;       // when the latest check was made
  int64_t statementStartNs = 0;  // when the latest outermost statement began
};
extern DiskView diskView __attribute__((visibility("hidden")));

// diskGeneration outside a statement.
uint64_t checkedDiskGeneration();

// The current disk generation. Outside a statement, checks for changes first
// when a check is due or 100 us passed since the latest.
inline uint64_t diskGeneration() {
  return diskView.statementDepth > 0 ? diskView.generation : checkedDiskGeneration();
}

// The next look checks for changes: a call starts or ends, or the engine
// wrote a file.
void markCheckDue();

// Reads run time (in ns) from `clock` instead of CLOCK_MONOTONIC; null
// restores it. For tests, which cannot rely on how long a step takes.
void setRunClock(int64_t (*clock)());

// A statement starts: checks for changes when one is due (see above), then
// no more until the outermost statement ends. Statements nest (a module
// calling back into the engine); a nested one always checks when it starts.
// Returns true for the outermost.
bool beginStatementView();
// The statement begun last ends.
inline void endStatementView() { --diskView.statementDepth; }
// True while a statement is in progress.
inline bool insideStatement() { return diskView.statementDepth > 0; }

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

// The most watches the engine holds at once: a quarter of the user's
// inotify quota (the lower of fs.inotify.max_user_watches and the user
// namespace's user.max_inotify_watches), at most kWatchCeiling.
size_t watchLimit();

// The number of watches the engine holds now.
size_t watchesHeld();

#endif  // ZEL_CACHE_WATCH_H_
