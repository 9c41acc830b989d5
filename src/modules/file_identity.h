// What the engine knows of a module file it hands to the loader: the file's
// identity, and the name under which each version of a file is loaded.
#ifndef ZEL_MODULES_FILE_IDENTITY_H_
#define ZEL_MODULES_FILE_IDENTITY_H_

#include <sys/types.h>

#include <ctime>
#include <string>

// What identifies the content of a module file: a file written over in
// place keeps its device and inode but not its size or modification time; a
// file replaced by rename gets another inode.
struct FileIdentity {
  dev_t device;
  ino_t inode;
  off_t size;
  timespec modified;
};

// True when both identities are the same file, whatever its content.
inline bool sameInode(const FileIdentity& a, const FileIdentity& b) {
  return a.device == b.device && a.inode == b.inode;
}

// True when both identities are the same file with the same content.
// Inline: a JavaScript module's identity is compared at every call.
inline bool sameFile(const FileIdentity& a, const FileIdentity& b) {
  return sameInode(a, b) && a.size == b.size && a.modified.tv_sec == b.modified.tv_sec &&
         a.modified.tv_nsec == b.modified.tv_nsec;
}

// The name the loader gets for version `version` of the file at `path`.
// The loader answers a name it has seen with the object it mapped then, so
// a file put in place by rename (a new inode) is loaded under a name of its
// own: the path with "./" before its last component, once per version.
// Both names open the same file.
std::string loaderName(const std::string& path, int version);

// The existence test: a descriptor open on the file at `path` when it is a
// regular file that can be opened for reading, whose identity is then in
// `identity`; -1 otherwise (a path holding a NUL byte included). Opened
// without waiting, so that a FIFO does not block.
int openModuleFile(const std::string& path, FileIdentity& identity);

#endif  // ZEL_MODULES_FILE_IDENTITY_H_
