#include "modules/file_identity.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/text.h"

std::string loaderName(const std::string& path, int version) {
  const size_t slash = path.rfind('/');
  if (version == 0 || slash == std::string::npos) return path;
  std::string name = path.substr(0, slash + 1);
  for (int i = 0; i < version; ++i) name += "./";
  return name + path.substr(slash + 1);
}

int openModuleFile(const std::string& path, FileIdentity& identity) {
  if (holdsNul(path)) return -1;
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return -1;
  }
  identity = {info.st_dev, info.st_ino, info.st_size, info.st_mtim};
  return fd;
}
