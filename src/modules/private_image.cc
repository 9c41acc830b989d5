#include "modules/private_image.h"

#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <link.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <utility>

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23  // Linux 5.14
#endif

namespace {

struct PageRange {
  uintptr_t start, end;
};

// Copies whole pages of a loaded object word by word. Not instrumented, and
// not turned into a memcpy call: a module built with AddressSanitizer keeps
// poisoned red zones between its globals, which are copied as they are.
__attribute__((no_sanitize_address)) void copyModulePages(void* to, const void* from,
                                                          size_t length) {
  auto* out = static_cast<volatile uint64_t*>(to);
  const auto* in = static_cast<const volatile uint64_t*>(from);
  for (size_t i = 0; i < length / sizeof(uint64_t); ++i) out[i] = in[i];
}

// Gives the read-only pages `range` a private copy of their content with
// protection `prot`, in one step (the copy is moved over them), so that
// code running there meanwhile never sees the range unmapped.
void copyPagesPrivately(PageRange range, int prot) {
  if (range.end <= range.start) return;
  const size_t length = range.end - range.start;
  void* copy = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (copy == MAP_FAILED) return;
  copyModulePages(copy, reinterpret_cast<const void*>(range.start), length);
  if (mprotect(copy, length, prot) != 0 ||
      mremap(copy, length, length, MREMAP_MAYMOVE | MREMAP_FIXED,
             reinterpret_cast<void*>(range.start)) == MAP_FAILED) {
    munmap(copy, length);
  }
}

// Makes the writable pages `range` private where they are: each page still
// shared with the file gets a copy of its own, exactly as a write to it
// would, and no word changes.
__attribute__((no_sanitize_address)) void makePrivateInPlace(PageRange range, uintptr_t page) {
  if (range.end <= range.start) return;
  void* start = reinterpret_cast<void*>(range.start);
  if (madvise(start, range.end - range.start, MADV_POPULATE_WRITE) == 0 || errno != EINVAL) {
    return;
  }
  // A kernel without MADV_POPULATE_WRITE: a compare-and-swap of a word with
  // itself faults its page in for writing, and writes nothing new even when
  // another thread writes that word meanwhile (the swap then fails).
  for (uintptr_t at = range.start; at < range.end; at += page) {
    auto* word = reinterpret_cast<uint64_t*>(at);
    uint64_t seen = __atomic_load_n(word, __ATOMIC_RELAXED);
    __atomic_compare_exchange_n(word, &seen, seen, false, __ATOMIC_RELAXED, __ATOMIC_RELAXED);
  }
}

int protectionOf(const ElfW(Phdr)& segment) {
  return PROT_READ | ((segment.p_flags & PF_W) ? PROT_WRITE : 0) |
         ((segment.p_flags & PF_X) ? PROT_EXEC : 0);
}

// Gives the object that `info` describes pages of its own, segment by
// segment, as the header of this file says; writable pages are copied when
// `copyWritable`, made private in place otherwise.
void privatizeObject(const dl_phdr_info& info, bool copyWritable) {
  const uintptr_t page = sysconf(_SC_PAGESIZE);
  const auto down = [&](uintptr_t at) { return at & ~(page - 1); };
  const auto up = [&](uintptr_t at) { return (at + page - 1) & ~(page - 1); };
  // The part the loader made read-only after relocation.
  PageRange relro{0, 0};
  for (int i = 0; i < info.dlpi_phnum; ++i) {
    const ElfW(Phdr)& segment = info.dlpi_phdr[i];
    const uintptr_t from = info.dlpi_addr + segment.p_vaddr;
    if (segment.p_type == PT_GNU_RELRO) relro = {down(from), down(from + segment.p_memsz)};
  }
  for (int i = 0; i < info.dlpi_phnum; ++i) {
    const ElfW(Phdr)& segment = info.dlpi_phdr[i];
    if (segment.p_type != PT_LOAD || (segment.p_flags & PF_R) == 0) continue;
    const uintptr_t from = info.dlpi_addr + segment.p_vaddr;
    const PageRange whole{down(from), up(from + segment.p_memsz)};
    if ((segment.p_flags & PF_W) == 0) {
      copyPagesPrivately(whole, protectionOf(segment));
      continue;
    }
    const uintptr_t fileEnd = std::min(whole.end, up(from + segment.p_filesz));
    PageRange readOnly{std::max(whole.start, relro.start), std::min(whole.end, relro.end)};
    if (readOnly.end <= readOnly.start) readOnly = {fileEnd, fileEnd};
    copyPagesPrivately(readOnly, PROT_READ);
    for (const PageRange writable : {PageRange{whole.start, std::min(fileEnd, readOnly.start)},
                                     PageRange{readOnly.end, fileEnd}}) {
      if (copyWritable) {
        copyPagesPrivately(writable, protectionOf(segment));
      } else {
        makePrivateInPlace(writable, page);
      }
    }
  }
}

void privatizeObjectAt(uintptr_t base, bool copyWritable) {
  struct Wanted {
    uintptr_t base;
    bool copyWritable;
  } wanted{base, copyWritable};
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) {
        const auto* wanted = static_cast<Wanted*>(data);
        if (info->dlpi_addr != wanted->base) return 0;
        privatizeObject(*info, wanted->copyWritable);
        return 1;
      },
      &wanted);
}

// The ids of the process's threads, sorted; false when they cannot be read.
bool threadIds(std::vector<std::string>& ids) {
  DIR* tasks = opendir("/proc/self/task");
  if (tasks == nullptr) return false;
  while (const dirent* entry = readdir(tasks)) {
    if (entry->d_name[0] != '.') ids.emplace_back(entry->d_name);
  }
  closedir(tasks);
  std::sort(ids.begin(), ids.end());
  return true;
}

// The load address and loader name of every object in the process.
std::vector<std::pair<uintptr_t, std::string>> namedObjects() {
  std::vector<std::pair<uintptr_t, std::string>> objects;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* out) {
        static_cast<std::vector<std::pair<uintptr_t, std::string>>*>(out)->emplace_back(
            info->dlpi_addr, info->dlpi_name != nullptr ? info->dlpi_name : "");
        return 0;
      },
      &objects);
  return objects;
}

}  // namespace

LoadSnapshot snapshotBeforeLoad() {
  LoadSnapshot snapshot;
  for (const auto& object : namedObjects()) snapshot.objects.push_back(object.first);
  snapshot.threadsSeen = threadIds(snapshot.threads);
  return snapshot;
}

void privatizeLoadedSince(const LoadSnapshot& before) {
  std::vector<std::string> threads;
  const bool threadsSeen = threadIds(threads);
  // No thread started since the snapshot: nothing but this thread can be
  // writing the new objects' pages, so copying them loses nothing.
  const bool noNewThread = before.threadsSeen && threadsSeen &&
                           std::includes(before.threads.begin(), before.threads.end(),
                                         threads.begin(), threads.end());
  for (const auto& [base, name] : namedObjects()) {
    if (name.empty() ||
        std::find(before.objects.begin(), before.objects.end(), base) != before.objects.end()) {
      continue;
    }
    // The loader answers only once a load another thread has in progress
    // is complete, so no object is changed while it is being relocated;
    // the reference taken keeps the object loaded meanwhile.
    void* held = dlopen(name.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (held == nullptr) continue;
    privatizeObjectAt(base, noNewThread);
    dlclose(held);
  }
}
