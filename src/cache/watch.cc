#include "cache/watch.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <unordered_map>
#include <unordered_set>

#include "base/text.h"

DiskView diskView;

namespace {

// A directory's entries: anything created, removed, renamed or written in it.
constexpr uint32_t kEntryEvents = IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE |
                                  IN_ATTRIB | IN_MOVED_FROM | IN_MOVED_TO;
// What can happen to a directory on the way to a path, or to a file itself.
constexpr uint32_t kSelfEvents = IN_DELETE_SELF | IN_MOVE_SELF | IN_ATTRIB;
// A file's own inode: written under any of its names, changed in mode,
// removed or moved.
constexpr uint32_t kFileEvents = kSelfEvents | IN_MODIFY | IN_CLOSE_WRITE;
// The kernel's own bound on links followed while resolving one path.
constexpr int kMaxLinks = 40;
// Run time after which a statement starts with a check again.
constexpr int64_t kCheckIntervalNs = 100000;
// A statement that ran at least this long may have written files itself (a
// module writing one takes longer): the next statement checks.
constexpr int64_t kLongStatementNs = 5000;

struct WatchRecord {
  uint64_t serial;
  int holders;
};

struct Watch {
  bool opened = false;
  bool usable = false;   // inotify and the mount table are both watched
  int inotifyFd = -1;
  int mountsFd = -1;     // /proc/self/mountinfo: ready with EPOLLPRI after a mount change
  int epollFd = -1;      // both of the above, so one call checks both
  uint64_t nextSerial = 1;
  size_t limit = 0;
  std::unordered_map<int, WatchRecord> records;  // by inotify watch number
  // Watches removed by the engine whose IN_IGNORED has not been read yet:
  // that event is no change.
  std::unordered_set<int> removed;
};

Watch& watch() {
  static Watch* w = new Watch;  // never destroyed: used until the process ends
  return *w;
}

size_t readQuota(const char* file) {
  std::ifstream in(file);
  long long value = 0;
  if (!(in >> value) || value <= 0) return std::numeric_limits<size_t>::max();
  return static_cast<size_t>(value);
}

void open(Watch& w) {
  w.opened = true;
  w.inotifyFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  w.mountsFd = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
  w.epollFd = epoll_create1(EPOLL_CLOEXEC);
  if (w.inotifyFd < 0 || w.mountsFd < 0 || w.epollFd < 0) return;
  epoll_event inotifyReady{};
  inotifyReady.events = EPOLLIN;
  inotifyReady.data.fd = w.inotifyFd;
  epoll_event mountsChanged{};
  mountsChanged.events = EPOLLPRI;
  mountsChanged.data.fd = w.mountsFd;
  if (epoll_ctl(w.epollFd, EPOLL_CTL_ADD, w.inotifyFd, &inotifyReady) != 0 ||
      epoll_ctl(w.epollFd, EPOLL_CTL_ADD, w.mountsFd, &mountsChanged) != 0) {
    return;
  }
  const size_t quota = std::min(readQuota("/proc/sys/fs/inotify/max_user_watches"),
                                readQuota("/proc/sys/user/max_inotify_watches"));
  w.limit = std::min(kWatchCeiling, quota / 4);
  w.usable = true;
}

bool usable(Watch& w) {
  if (!w.opened) open(w);
  return w.usable;
}

// Reads every pending inotify event. Returns true when one of them is a
// change; the engine's own removals are not.
bool readEvents(Watch& w) {
  alignas(inotify_event) char buffer[16384];
  bool changed = false;
  ssize_t size;
  while ((size = read(w.inotifyFd, buffer, sizeof buffer)) > 0) {
    for (ssize_t at = 0; at < size;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += sizeof(inotify_event) + event->len;
      if ((event->mask & IN_IGNORED) != 0) {
        if (w.removed.erase(event->wd) != 0) continue;
        // The kernel dropped the watch (its inode is gone): entries holding
        // it are rebuilt, since this is a new generation.
        w.records.erase(event->wd);
      }
      changed = true;
    }
  }
  return changed;
}

// CLOCK_MONOTONIC, which the vDSO reads without entering the kernel.
int64_t monotonicNs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

int64_t (*runClock)() = monotonicNs;

int64_t nowNs() { return runClock(); }

// One epoll_wait tells whether anything is pending; any change starts a new
// generation.
void checkForChanges(int64_t now) {
  Watch& w = watch();
  diskView.checkDue = false;
  diskView.lastCheckNs = now;
  if (!usable(w)) {
    ++diskView.generation;
    return;
  }
  epoll_event ready[2];
  const int count = epoll_wait(w.epollFd, ready, 2, 0);
  bool changed = false;
  for (int i = 0; i < count; ++i) {
    // Polling the mount table is what acknowledges its change.
    if (ready[i].data.fd == w.mountsFd) changed = true;
    if (ready[i].data.fd == w.inotifyFd && readEvents(w)) changed = true;
  }
  if (changed) ++diskView.generation;
}

// Sets a watch on `path` (not following a link there) and holds it in
// `held`. False when it cannot be set, or would take the engine past its
// share of the quota.
bool addWatch(Watch& w, const std::string& path, uint32_t events, WatchSet& held) {
  const int wd = inotify_add_watch(w.inotifyFd, path.empty() ? "/" : path.c_str(),
                                   events | IN_MASK_ADD | IN_DONT_FOLLOW);
  if (wd < 0) return false;
  auto found = w.records.find(wd);
  if (found == w.records.end()) {
    if (w.records.size() >= w.limit) {
      inotify_rm_watch(w.inotifyFd, wd);
      w.removed.insert(wd);
      return false;
    }
    w.removed.erase(wd);  // the number came back before its IN_IGNORED was read
    found = w.records.emplace(wd, WatchRecord{w.nextSerial++, 0}).first;
  }
  ++found->second.holders;
  held.push_back({wd, found->second.serial});
  return true;
}

std::string parentOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "" : path.substr(0, slash);
}

// Splits a path into its names, in order; empty names and "." are left out.
void pushNames(const std::string& path, std::vector<std::string>& pending) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    if (slash > start && path.compare(start, slash - start, ".") != 0) {
      names.push_back(path.substr(start, slash - start));
    }
    start = slash + 1;
  }
  // `pending` is used from the back.
  pending.insert(pending.end(), names.rbegin(), names.rend());
}

// Walks `path` from "/" as the kernel resolves it, watching every directory
// passed through and, for each symbolic link met, the directory holding it
// (its entries). A directory is watched before the names in it are looked
// at, and a name is looked at again once it is watched itself, so a change
// made meanwhile is either seen by a watch or leaves the path uncached. The
// last name, when it exists, is watched with `lastEvents` and its directory
// with `lastDirEvents` (0: none); when a name is missing, the directory where
// it would appear is watched for its entries. False when a watch cannot be
// set or there are too many links.
bool watchResolved(Watch& w, const std::string& path, uint32_t lastDirEvents,
                   uint32_t lastEvents, WatchSet& held) {
  if (!addWatch(w, "/", kSelfEvents, held)) return false;
  std::vector<std::string> pending;
  pushNames(path, pending);
  std::string resolved;  // "" is "/"
  int links = 0;
  while (!pending.empty()) {
    const std::string name = std::move(pending.back());
    pending.pop_back();
    if (name == "..") {
      resolved = parentOf(resolved);
      continue;
    }
    const bool last = pending.empty();
    if (last && lastDirEvents != 0 && !addWatch(w, resolved, lastDirEvents, held)) return false;
    const std::string next = resolved + "/" + name;
    struct stat info;
    if (lstat(next.c_str(), &info) != 0) {
      // Missing (or not reachable): watch where it would appear.
      return addWatch(w, resolved, kEntryEvents | kSelfEvents, held);
    }
    if (S_ISLNK(info.st_mode)) {
      if (++links > kMaxLinks || !addWatch(w, resolved, kEntryEvents | kSelfEvents, held)) {
        return false;
      }
      std::string target(static_cast<size_t>(info.st_size) + 1, '\0');
      const ssize_t length = readlink(next.c_str(), &target[0], target.size());
      // Changed since lstat (the link was switched): the watch has seen it.
      if (length < 0 || static_cast<size_t>(length) >= target.size()) return false;
      target.resize(static_cast<size_t>(length));
      if (!target.empty() && target[0] == '/') resolved.clear();
      pushNames(target, pending);
      continue;
    }
    resolved = next;
    if (!addWatch(w, resolved, pending.empty() ? lastEvents : kSelfEvents, held)) return false;
    // Replaced between the look and the watch: the watch may be on the new
    // one while the old one was resolved; not cached then.
    struct stat watched;
    if (lstat(resolved.c_str(), &watched) != 0 || watched.st_ino != info.st_ino ||
        watched.st_dev != info.st_dev) {
      return false;
    }
  }
  return true;
}

bool watchFor(const std::string& path, uint32_t lastDirEvents, uint32_t lastEvents,
              WatchSet& held) {
  Watch& w = watch();
  // A path holding a NUL byte is never handed to the C library.
  if (path.empty() || path[0] != '/' || holdsNul(path) || !usable(w)) return false;
  WatchSet taken;
  if (!watchResolved(w, path, lastDirEvents, lastEvents, taken)) {
    releaseWatches(taken);
    return false;
  }
  held.insert(held.end(), taken.begin(), taken.end());
  return true;
}

}  // namespace

size_t watchLimit() {
  Watch& w = watch();
  usable(w);
  return w.limit;
}

size_t watchesHeld() { return watch().records.size(); }

uint64_t checkedDiskGeneration() {
  const int64_t now = nowNs();
  if (diskView.checkDue || now - diskView.lastCheckNs >= kCheckIntervalNs) checkForChanges(now);
  return diskView.generation;
}

void markCheckDue() { diskView.checkDue = true; }

void setRunClock(int64_t (*clock)()) { runClock = clock != nullptr ? clock : monotonicNs; }

bool watchPath(const std::string& path, WatchSet& held) {
  return watchFor(path, kEntryEvents | kSelfEvents, kFileEvents, held);
}

bool watchDirectory(const std::string& dir, WatchSet& held) {
  return watchFor(dir, 0, kEntryEvents | kSelfEvents, held);
}

void releaseWatches(WatchSet& held) {
  Watch& w = watch();
  for (const WatchRef& ref : held) {
    auto found = w.records.find(ref.wd);
    if (found == w.records.end() || found->second.serial != ref.serial) continue;
    if (--found->second.holders > 0) continue;
    w.records.erase(found);
    inotify_rm_watch(w.inotifyFd, ref.wd);
    w.removed.insert(ref.wd);
  }
  held.clear();
}

bool holdWatches(const WatchSet& watches, WatchSet& held) {
  Watch& w = watch();
  for (const WatchRef& ref : watches) {
    auto found = w.records.find(ref.wd);
    if (found == w.records.end() || found->second.serial != ref.serial) return false;
  }
  for (const WatchRef& ref : watches) {
    ++w.records[ref.wd].holders;
    held.push_back(ref);
  }
  return true;
}

bool beginStatementView() {
  const int64_t now = nowNs();
  if (diskView.statementDepth > 0) {
    // A module called back into the engine: it may rely on what it wrote,
    // now and at its own caller's next statement.
    checkForChanges(now);
    diskView.checkDue = true;
    return ++diskView.statementDepth == 1;
  }
  if (diskView.checkDue || now - diskView.lastCheckNs >= kCheckIntervalNs ||
      now - diskView.statementStartNs >= kLongStatementNs) {
    checkForChanges(now);
  }
  diskView.statementStartNs = now;
  return diskView.statementDepth++ == 0;
}
