#include "compile/request_log.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <string>


namespace {

const char kLogName[] = "requests.log";

// Creates a file of its own beside the log, never one that is there
// already (a link planted at the name is not followed); its name is in
// `name`. -1 when none could be made.
int createTemporary(std::string& name) {
  static std::atomic<unsigned> made{0};
  for (int attempt = 0; attempt < 8; ++attempt) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    name = std::string(".") + kLogName + "." + std::to_string(getpid()) + "." +
           std::to_string(made++) + "." + std::to_string(now.tv_nsec);
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

bool writeAll(int fd, const std::string& text) {
  for (size_t done = 0; done < text.size();) {
    const ssize_t written = write(fd, text.data() + done, text.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    done += static_cast<size_t>(written);
  }
  return true;
}

}  // namespace

bool goAddToLog(std::string entry) {
  // Whatever is at the name but a regular file (a link, a FIFO, a
  // directory) is left alone. A link planted after this test is replaced
  // by the rename below, never written through.
  struct stat info;
  if (lstat(kLogName, &info) == 0 && !S_ISREG(info.st_mode)) return false;
  std::string temporary;
  const int fd = createTemporary(temporary);
  if (fd < 0) return false;
  const bool written = writeAll(fd, entry + '\n');
  if (close(fd) != 0 || !written || rename(temporary.c_str(), kLogName) != 0) {
    unlink(temporary.c_str());
    return false;
  }
  return true;
}
