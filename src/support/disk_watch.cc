#include "support/disk_watch.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include <unordered_set>

#include "support/text.h"

namespace {

// Everything a change of a directory's entries can mean for a cache.
constexpr uint32_t kEntryEvents = IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE |
                                  IN_ATTRIB | IN_MOVED_FROM | IN_MOVED_TO;
// What a directory on the way to a path can do to it.
constexpr uint32_t kSelfEvents = IN_DELETE_SELF | IN_MOVE_SELF | IN_ATTRIB;

struct Watch {
  int fd = -2;            // -2: not opened yet; -1: inotify unavailable
  bool broken = false;    // a watch could not be set: no caching any more
  uint64_t generation = 1;
  int statementDepth = 0;
  std::unordered_set<std::string> fullyWatched;  // directories with entry events
  std::unordered_set<std::string> selfWatched;   // directories with self events
};

Watch& watch() {
  static Watch* w = new Watch;  // never destroyed: used until the process ends
  return *w;
}

bool usable(Watch& w) {
  if (w.fd == -2) w.fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  return w.fd >= 0 && !w.broken;
}

// Reads every pending event; any event at all starts a new generation.
void checkForChanges(Watch& w) {
  if (!usable(w)) {
    ++w.generation;
    return;
  }
  alignas(inotify_event) char buffer[16384];
  bool changed = false;
  while (read(w.fd, buffer, sizeof buffer) > 0) changed = true;
  if (changed) {
    ++w.generation;
    // Removed directories lose their watches; set them again when needed.
    w.fullyWatched.clear();
    w.selfWatched.clear();
  }
}

// Sets a watch. When that fails caching stops for the process, and the
// generation moves on so that nothing kept so far is trusted any more
// (an entry may already rest on what this watch was to cover).
bool addWatch(Watch& w, const std::string& dir, uint32_t events) {
  if (inotify_add_watch(w.fd, dir.empty() ? "/" : dir.c_str(), events | IN_MASK_ADD) >= 0) {
    return true;
  }
  w.broken = true;
  ++w.generation;
  return false;
}

std::string parentOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return path.substr(0, slash);
}

bool isDirectory(const std::string& path) {
  struct stat info;
  return stat(path.empty() ? "/" : path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Watches `dir` for entry events, or, when it does not exist, the nearest
// directory above it that does (where it would appear); then every
// directory above for self events.
void watchChain(Watch& w, std::string dir) {
  if (!usable(w)) return;
  while (!isDirectory(dir)) {
    if (dir.empty() || dir == "." || dir == "/") break;
    dir = parentOf(dir);
  }
  if (w.fullyWatched.insert(dir).second && !addWatch(w, dir, kEntryEvents | kSelfEvents)) return;
  while (!dir.empty() && dir != "." && dir != "/") {
    dir = parentOf(dir);
    if (w.selfWatched.count(dir) != 0) break;  // the rest of the chain is watched
    w.selfWatched.insert(dir);
    if (!addWatch(w, dir, kSelfEvents)) return;
  }
}

}  // namespace

bool diskCachingWorks() { return usable(watch()); }

uint64_t diskGeneration() {
  Watch& w = watch();
  if (w.statementDepth == 0) checkForChanges(w);
  return w.generation;
}

// For a path that is a symbolic link, the directory of the file it leads to:
// a change there changes what the path reads.
void watchLinkTarget(const std::string& path) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return;
  if (char* target = realpath(path.c_str(), nullptr)) {
    watchChain(watch(), parentOf(target));
    free(target);
  }
}

bool watchPath(const std::string& path) {
  if (path.empty() || path[0] != '/' || holdsNul(path)) return false;
  watchChain(watch(), parentOf(path));
  watchLinkTarget(path);
  return usable(watch());
}

bool watchDirectory(const std::string& dir) {
  if (dir.empty() || dir[0] != '/' || holdsNul(dir)) return false;
  std::string d = dir;
  while (d.size() > 1 && d.back() == '/') d.pop_back();
  watchChain(watch(), d);
  return usable(watch());
}

StatementScope::StatementScope() : opened_(true) {
  Watch& w = watch();
  checkForChanges(w);
  ++w.statementDepth;
}

StatementScope::StatementScope(Join) : opened_(watch().statementDepth == 0) {
  if (opened_) {
    checkForChanges(watch());
    ++watch().statementDepth;
  }
}

StatementScope::~StatementScope() {
  if (opened_) --watch().statementDepth;
}
