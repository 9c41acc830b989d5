// Hostile headers, module names and statements: whatever they hold ("..",
// "/", NUL bytes, markers, links the author placed in node_modules with
// ".." after them), no path outside the application directory may reach a
// file call, no ".." may be resolved from a link's target, and the loader
// only ever gets a ".so" file below node_modules. The engine's calls to
// stat, open, opendir and dlopen are routed through the checks below (the
// link wraps them, see CMakeLists.txt) and trap on the first path that
// leaves. The fixed system files the engine reads on its own are allowed.
//
// Input: one byte that picks the entry to drive (a plain program, a
// compiled one, a statement, the same statement after "print", a statement
// against every pack), then the header's text, the form's module name and
// a statement, separated by line feeds. One entry per input keeps inputs
// cheap, so that millions run in a short session.
#include <dlfcn.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unordered_map>

#include "compile/cipher.h"
#include "fuzz_app.h"
#include "zel/zel.h"

namespace {

namespace fs = std::filesystem;

// Set while the engine runs, so that the fuzzer's own file calls pass.
bool inEngine = false;

// The files the engine reads for itself: the mount table and the inotify
// quotas of the cache watch, and the thread list a module load compares.
bool systemFile(const std::string& path) {
  return path == "/proc/self/mountinfo" || path == "/proc/sys/fs/inotify/max_user_watches" ||
         path == "/proc/sys/user/max_inotify_watches" || path == "/proc/self/task";
}

// True when the path holds a "." or ".." component or an empty one, which
// lexical normalisation would change.
bool needsNormalising(const std::string& path) {
  return path.find("/.") != std::string::npos || path.find("//") != std::string::npos ||
         (!path.empty() && path.back() == '/');
}

// True when the kernel resolves a ".." in `path` from the target of a
// link, landing elsewhere than the path's text says. Judged at the last
// ".." the kernel can reach: a path it cannot resolve reaches nothing.
bool climbsFromALink(const std::string& path) {
  fs::path prefix, upToLastClimb;
  for (const fs::path& part : fs::path(path)) {
    prefix /= part;
    if (part == "..") upToLastClimb = prefix;
  }
  if (upToLastClimb.empty()) return false;
  char* real = realpath(upToLastClimb.c_str(), nullptr);
  if (real == nullptr) return false;
  const std::string kernel = real;
  std::free(real);
  std::error_code error;
  std::string text = fs::weakly_canonical(upToLastClimb.lexically_normal(), error).string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return kernel != text;
}

// True when `path` is absolute and lexically at or below `dir`, and a ".."
// in it climbs where its text says: not from the target of a link.
bool below(const std::string& path, const std::string& dir) {
  if (path.compare(0, dir.size(), dir) != 0) return false;  // the common case first
  if (!needsNormalising(path)) return path.size() == dir.size() || path[dir.size()] == '/';
  const fs::path normal = fs::path(path).lexically_normal();
  const std::string text = normal.string();
  if (text != dir && text.compare(0, dir.size() + 1, dir + "/") != 0) return false;
  return path.find("/..") == std::string::npos || !climbsFromALink(path);
}

// `path` from the working directory, which is the application's.
std::string absolute(const char* path) {
  const std::string text = path == nullptr ? "" : path;
  return text.empty() || text[0] == '/' ? text : fuzz::appDir() + "/" + text;
}

void checkFilePath(const char* path) {
  if (!inEngine) return;
  const std::string text = absolute(path);
  if (!systemFile(text) && !below(text, fuzz::appDir())) __builtin_trap();
}

void checkModulePath(const char* path, int flags) {
  if (!inEngine || (flags & RTLD_NOLOAD) != 0) return;  // a lookup loads nothing
  const std::string text = absolute(path);
  const bool soFile = text.size() > 3 && text.compare(text.size() - 3, 3, ".so") == 0;
  if (!soFile || !below(text, fuzz::appDir() + "/node_modules")) __builtin_trap();
}

std::string field(const std::string& input, size_t index, const std::string& fallback) {
  size_t start = 0;
  for (size_t i = 0; i < index; ++i) {
    start = input.find('\n', start);
    if (start == std::string::npos) return fallback;
    ++start;
  }
  return input.substr(start, input.find('\n', start) - start);
}

std::string compiledLine(const std::string& source) {
  return goEnCryptZEL(goBase64(source)) + "-;";
}

// Writes `text` to `path` unless the file already holds it: a write makes
// the engine read what it caches again.
void writeIfChanged(const std::string& path, const std::string& text) {
  static std::unordered_map<std::string, std::string> written;
  auto known = written.find(path);
  if (known != written.end() && known->second == text) return;
  fuzz::writeFile(path, text);
  written[path] = text;
}

// Beside the application, a library the author linked into node_modules as
// npm does ("mylib" -> "../../lib"), and uploads a climb could reach.
void addLinkedLibrary() {
  const std::string root = fuzz::rootDir();
  fs::create_directories(root + "/lib");
  fs::create_directories(fuzz::appDir() + "/uploads");
  fuzz::writeFile(root + "/lib/calc.zel", "print (printer)\n");
  fuzz::writeFile(root + "/app/uploads/...zel", "print (uploads/evil)\n");
  fs::copy_file(std::string(ZEL_FIXTURE_DIR) + "/echo_module.so", root + "/app/uploads/evil.so");
  fs::create_directory_symlink("../../lib", fuzz::appDir() + "/node_modules/mylib");
}

}  // namespace

extern "C" {
int __real_stat(const char* path, struct stat* info);
int __real_open(const char* path, int flags, ...);
DIR* __real_opendir(const char* path);
void* __real_dlopen(const char* path, int flags);

int __wrap_stat(const char* path, struct stat* info) {
  checkFilePath(path);
  return __real_stat(path, info);
}

int __wrap_open(const char* path, int flags, ...) {
  checkFilePath(path);
  va_list args;
  va_start(args, flags);
  const mode_t mode = (flags & O_CREAT) ? va_arg(args, mode_t) : 0;
  va_end(args);
  return __real_open(path, flags, mode);
}

DIR* __wrap_opendir(const char* path) {
  checkFilePath(path);
  return __real_opendir(path);
}

void* __wrap_dlopen(const char* path, int flags) {
  checkModulePath(path, flags);
  return __real_dlopen(path, flags);
}

int LLVMFuzzerInitialize(int*, char***) {
  fuzz::makeApp();
  addLinkedLibrary();
  if (chdir(fuzz::appDir().c_str()) != 0) return 1;
  return 0;
}

int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int entry = size == 0 ? 0 : data[0] % 5;
  const std::string input(reinterpret_cast<const char*>(data) + (size == 0 ? 0 : 1),
                          size == 0 ? 0 : size - 1);
  const std::string header = field(input, 0, "calc.zel");
  const std::string module = field(input, 1, "printer");
  const std::string statement = field(input, 2, "print x;");
  const std::string app = fuzz::appDir();
  // Uploads, outside node_modules, where nothing is cached: writing them
  // costs the engine no new reads. The pack is named relative to the
  // working directory (the application's), so it is read afresh each time.
  const std::string pack = "uploads/fuzzed.zel";
  const std::string program = app + "/uploads/program";
  const std::string compiled = app + "/uploads/compiled";
  if (entry == 0) {
    writeIfChanged(program, ":s:" + header + ";\nprint x;\n" + statement + "\n");
  } else if (entry == 1) {
    writeIfChanged(compiled, compiledLine(":s:" + header + "; header") + "\n" +
                                 compiledLine("print hello there;") + "\n" +
                                 compiledLine(statement) + "\n");
  } else {
    writeIfChanged(app + "/" + pack, "print (" + module + ")\nnm (" + module + ")\n");
  }
  inEngine = true;
  switch (entry) {
    case 0: CallZEL_Executer(app, program); break;
    case 1: CallZEL_Executer(app, compiled); break;
    case 2: CallZEL_Commandes(app, statement, pack); break;
    case 3: CallZEL_Commandes(app, "print " + statement, pack); break;
    default: CallZEL_Commandes(app, statement, "*.*");
  }
  inEngine = false;
  return 0;
}
}
