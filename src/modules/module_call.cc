#include "modules/module_call.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <unordered_map>

#include "support/disk_watch.h"
#include "support/lang.h"
#include "support/text.h"
#include "zel/crash_report.h"
#include "zel/outcome.h"
#include "zel/state.h"

namespace {

std::string loaderError() {
  const char* error = dlerror();
  return error ? error : "";
}

// One variable set of the engine state: the latest loaded module's handle,
// its entries and the object of the call in progress.
template <class Object>
struct ModuleSlots {
  void*& handle;
  Object* (*&create)();
  void (*&destroy)(Object*);
  Object*& object;
};

}  // namespace

// The module is loaded once per disk generation, not looked up again for
// every call.
struct LoadedModule {
  uint64_t generation = 0;
  bool readable = false;   // the existence test
  void* handle = nullptr;  // null when loading failed
  void* create = nullptr;
  void* destroy = nullptr;
  std::string error;       // the loader's text when loading or a lookup failed
};

namespace {

// What identifies the content of a module file: a file written over in
// place keeps its device and inode but not its size or modification time; a
// file replaced by rename gets another inode.
struct FileIdentity {
  dev_t device;
  ino_t inode;
  off_t size;
  timespec modified;
};

bool sameFile(const FileIdentity& a, const FileIdentity& b) {
  return a.device == b.device && a.inode == b.inode && a.size == b.size &&
         a.modified.tv_sec == b.modified.tv_sec && a.modified.tv_nsec == b.modified.tv_nsec;
}

bool sameInode(const FileIdentity& a, const FileIdentity& b) {
  return a.device == b.device && a.inode == b.inode;
}

// The module file at one path as the loader last mapped it, and how many
// files have been mapped from that path before.
struct MappedFile {
  FileIdentity identity;
  int version;
};

// Every module path loaded so far, by the path handed to the loader. Kept
// for the process: a shared object is never unloaded.
std::unordered_map<std::string, MappedFile>& mappedFiles() {
  static auto* files = new std::unordered_map<std::string, MappedFile>;
  return *files;
}

// The name the loader gets for version `version` of the file at `path`.
// The loader answers a name it has seen with the object it mapped then, so
// a file put in place by rename (a new inode) is loaded under a name of its
// own: the path with "./" before its last component, once per version.
// Both names open the same file.
std::string loaderName(const std::string& path, int version) {
  const size_t slash = path.rfind('/');
  if (version == 0 || slash == std::string::npos) return path;
  std::string name = path.substr(0, slash + 1);
  for (int i = 0; i < version; ++i) name += "./";
  return name + path.substr(slash + 1);
}

// The existence test: a descriptor open on the file at `path` when it is a
// regular file that can be opened for reading, whose identity is then in
// `identity`; -1 otherwise. Opened without waiting, so that a FIFO does not
// block.
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

// Copies whole pages of a loaded module word by word. Not instrumented, and
// not turned into a memcpy call: a module built with AddressSanitizer keeps
// poisoned red zones between its globals, which are copied as they are.
__attribute__((no_sanitize_address)) void copyModulePages(void* to, const void* from,
                                                          size_t length) {
  auto* out = static_cast<volatile uint64_t*>(to);
  const auto* in = static_cast<const volatile uint64_t*>(from);
  for (size_t i = 0; i < length / sizeof(uint64_t); ++i) out[i] = in[i];
}

// Gives the pages [start, start + length) a private copy of their content
// with protection `prot`, in one step (the copy is moved over them), so that
// code running there meanwhile never sees the range unmapped.
void copyPagesPrivately(uintptr_t start, size_t length, int prot) {
  void* copy = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (copy == MAP_FAILED) return;
  copyModulePages(copy, reinterpret_cast<const void*>(start), length);
  if (mprotect(copy, length, prot) != 0 ||
      mremap(copy, length, length, MREMAP_MAYMOVE | MREMAP_FIXED,
             reinterpret_cast<void*>(start)) == MAP_FAILED) {
    munmap(copy, length);
  }
}

// Makes the module the loader mapped at `base` independent of its file. The
// loader maps a shared object's pages from the file, so a file written over
// in place would change the code of the loaded module under it; the
// functions the loader calls when the process exits would then crash the
// host. Each loaded segment gets a private copy, and the part the loader
// made read-only after relocation is made read-only again.
void detachFromFile(ElfW(Addr) base) {
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* wanted) {
        if (info->dlpi_addr != *static_cast<ElfW(Addr)*>(wanted)) return 0;
        const uintptr_t page = sysconf(_SC_PAGESIZE);
        for (int i = 0; i < info->dlpi_phnum; ++i) {
          const ElfW(Phdr)& segment = info->dlpi_phdr[i];
          const uintptr_t from = info->dlpi_addr + segment.p_vaddr;
          const uintptr_t start = from & ~(page - 1);
          if (segment.p_type == PT_LOAD && (segment.p_flags & PF_R) != 0) {
            const uintptr_t end = (from + segment.p_memsz + page - 1) & ~(page - 1);
            const int prot = PROT_READ | ((segment.p_flags & PF_W) ? PROT_WRITE : 0) |
                             ((segment.p_flags & PF_X) ? PROT_EXEC : 0);
            copyPagesPrivately(start, end - start, prot);
          }
        }
        for (int i = 0; i < info->dlpi_phnum; ++i) {
          const ElfW(Phdr)& segment = info->dlpi_phdr[i];
          if (segment.p_type != PT_GNU_RELRO) continue;
          const uintptr_t from = info->dlpi_addr + segment.p_vaddr;
          const uintptr_t start = from & ~(page - 1);
          const uintptr_t end = (from + segment.p_memsz) & ~(page - 1);
          if (end > start) mprotect(reinterpret_cast<void*>(start), end - start, PROT_READ);
        }
        return 1;
      },
      &base);
}

std::string changedOnDiskText(const std::string& path) {
  return "Module " + path +
         " changed on disk after this process loaded it, so it is not called: a new process, "
         "or replacing the file by rename (install, or mv from a temporary name), picks the "
         "new version up";
}

// Runs the existence test, loads and resolves, as a call would.
void load(const std::string& path, LoadedModule& module) {
  FileIdentity identity;
  const int fd = openModuleFile(path, identity);
  module.readable = fd >= 0;
  if (!module.readable) return;
  // The path handed to the loader, by which what it mapped is recorded: the
  // file's real path. The loader hands back an object already loaded under
  // the same name, so a release switched through a symbolic link would
  // otherwise keep the old release's module.
  char* real = realpath(path.c_str(), nullptr);
  const std::string opened = real != nullptr ? real : path;
  std::free(real);
  const auto known = mappedFiles().find(opened);
  int version = 0;
  if (known != mappedFiles().end()) {
    const MappedFile& mapped = known->second;
    version = mapped.version;
    if (sameInode(mapped.identity, identity) && !sameFile(mapped.identity, identity)) {
      // Written over in place: the loader matches the file by its inode and
      // gives back the object it mapped, which no longer matches what the
      // file holds (its symbols are not the file's).
      module.error = changedOnDiskText(path);
      close(fd);
      return;
    }
    if (!sameInode(mapped.identity, identity)) ++version;  // replaced by rename
  }
  const std::string name = loaderName(opened, version);
  // Only an object this call maps is detached from its file: one the
  // process already had (a library linked in, say) may be in use elsewhere.
  void* loadedBefore = dlopen(name.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (loadedBefore != nullptr) dlclose(loadedBefore);  // drops the reference just taken
  const bool newlyMapped = loadedBefore == nullptr;
  module.handle = dlopen(name.c_str(), RTLD_LAZY);
  if (module.handle == nullptr) {
    module.error = loaderError();
    close(fd);
    return;
  }
  if (newlyMapped) {
    link_map* map = nullptr;
    if (dlinfo(module.handle, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr) {
      detachFromFile(map->l_addr);
    }
    // Kept open for the process: the loader knows a file by its inode, and
    // the detached module no longer holds its file, so the inode of a
    // removed module could otherwise go to the next file installed, which
    // the loader would take for the module it already mapped.
  } else {
    close(fd);
  }
  mappedFiles()[opened] = {identity, version};
  for (void** entry : {&module.create, &module.destroy}) {
    dlerror();
    *entry = dlsym(module.handle, entry == &module.create ? "create" : "destroy");
    if (*entry == nullptr) {
      module.error = loaderError();
      return;
    }
  }
}

// The steps shared by both kinds of module; `operate` calls the object's
// operation. The slots are overwritten as each step is reached, so after a
// failure they hold what was found up to it.
//
// The call holds its own object and destroy entry: a module that calls back
// into the engine during its operation has the nested call write the slots
// again (and may have the cached entry rebuilt), and reading them back
// would destroy the nested call's object a second time. `path` must stay
// valid until the call returns: an exception leaving the module is noted
// with it.
template <class Object, class Operate>
ModuleAnswer loadAndCall(const LoadedModule& module, const std::string& path,
                         ModuleSlots<Object> slots, Operate operate) {
  if (!module.readable) return {ModuleAnswer::kUnreadable, ""};
  slots.handle = module.handle;
  if (module.handle == nullptr) return {ModuleAnswer::kRefused, module.error};
  const auto create = reinterpret_cast<Object* (*)()>(module.create);
  slots.create = create;
  if (create == nullptr) return {ModuleAnswer::kRefused, module.error};
  const auto destroy = reinterpret_cast<void (*)(Object*)>(module.destroy);
  slots.destroy = destroy;
  if (destroy == nullptr) return {ModuleAnswer::kRefused, module.error};

  const RunningModule running(path);  // for a crash report
  Object* const object = create();
  slots.object = object;
  // A module whose create() gives no object cannot be called; report it
  // instead of calling through a null pointer.
  if (object == nullptr) return {ModuleAnswer::kRefused, path + ": create() returned no object"};
  ModuleAnswer answer{ModuleAnswer::kAnswered, ""};
  try {
    answer.text = operate(object);
  } catch (...) {
    noteThrowingModule(path);
    throw;
  }
  destroy(object);
  return answer;
}

// The classic text of a module call: message 4 (from the catalogue of the
// latest application) naming the path when the file cannot be opened.
std::string classicText(ModuleAnswer answer, const std::string& path) {
  if (answer.kind != ModuleAnswer::kUnreadable) return std::move(answer.text);
  return goReplace(goResponseLANG("4"), ":E1:", withVisibleNul(path));
}

}  // namespace

const LoadedModule& loadedModule(const std::string& app, const std::string& path) {
  // The syntax modules and pack modules of each application.
  static auto* cache = new DiskCache<LoadedModule>(16 * kCachedApplications);
  return cachedEntry(*cache, app, path, false,
                     [&](LoadedModule& module) { load(path, module); });
}

bool isCached(const LoadedModule& module) { return module.generation != 0; }

ModuleAnswer runPackModule(const std::string& app, const std::string& modulePath,
                           const std::string& input) {
  ModuleSlots<ModuleObject> slots{handle, openZEL, closeZEL, ps};
  return loadAndCall(loadedModule(app, modulePath), modulePath, slots,
                     [&](ModuleObject* object) { return object->execute(input); });
}

ModuleAnswer askSyntaxModule(const LoadedModule& module, const std::string& libPath,
                             const std::string& syntaxLine, const std::string& statement) {
  ModuleSlots<LibModuleObject> slots{handleLib, openZELLib, closeZELLib, psLib};
  return loadAndCall(module, libPath, slots, [&](LibModuleObject* object) {
    return object->check(syntaxLine, statement);
  });
}

std::string callModule(const std::string& modulePath, const std::string& input) {
  return classicText(runPackModule(myAbsolutePathDirApp, modulePath, input), modulePath);
}

std::string callLibModule(const std::string& libPath, const std::string& syntaxLine,
                          const std::string& statement) {
  return classicText(askSyntaxModule(loadedModule(myAbsolutePathDirApp, libPath), libPath,
                                     syntaxLine, statement),
                     libPath);
}
