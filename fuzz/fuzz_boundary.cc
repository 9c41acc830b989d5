// Hostile headers, module names and statements: whatever they hold ("..",
// "/", NUL bytes, markers), no path outside the application directory may
// reach a file call, and the loader only ever gets a ".so" file below
// node_modules. The engine's calls to stat, open, opendir and dlopen are
// routed through the checks below (the link wraps them, see CMakeLists.txt)
// and trap on the first path that leaves.
//
// Input: the header's text, the form's module name and a statement,
// separated by line feeds.
#include <dlfcn.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdarg>
#include <cstdint>
#include <filesystem>
#include <string>

#include "compile/cipher.h"
#include "fuzz_app.h"
#include "zel/zel.h"

namespace {

// Set while the engine runs, so that the fuzzer's own file calls pass.
bool inEngine = false;

bool lexicallyBelow(const char* path, const std::string& dir) {
  if (path == nullptr || path[0] != '/') return false;
  const std::string normal = std::filesystem::path(path).lexically_normal().string();
  return normal == dir || normal.compare(0, dir.size() + 1, dir + "/") == 0;
}

void checkFilePath(const char* path) {
  if (inEngine && !lexicallyBelow(path, fuzz::appDir())) __builtin_trap();
}

void checkModulePath(const char* path) {
  if (!inEngine) return;
  const std::string text = path == nullptr ? "" : path;
  const bool soFile = text.size() > 3 && text.compare(text.size() - 3, 3, ".so") == 0;
  if (!soFile || !lexicallyBelow(path, fuzz::appDir() + "/node_modules")) __builtin_trap();
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
  checkModulePath(path);
  return __real_dlopen(path, flags);
}

int LLVMFuzzerInitialize(int*, char***) {
  fuzz::makeApp();
  return 0;
}

int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::string header = field(input, 0, "calc.zel");
  const std::string module = field(input, 1, "printer");
  const std::string statement = field(input, 2, "print x;");
  const std::string app = fuzz::appDir();
  const std::string pack = app + "/node_modules/fuzzed.zel";
  fuzz::writeFile(pack, "print (" + module + ")\nnm (" + module + ")\n");
  fuzz::writeFile(app + "/program", ":s:" + header + ";\nprint x;\n" + statement + "\n");
  fuzz::writeFile(app + "/compiled", compiledLine(":s:" + header + "; header") + "\n" +
                                         compiledLine("print hello there;") + "\n" +
                                         compiledLine(statement) + "\n");
  inEngine = true;
  CallZEL_Executer(app, app + "/program");
  CallZEL_Executer(app, app + "/compiled");
  CallZEL_Commandes(app, statement, pack);
  CallZEL_Commandes(app, "print " + statement, pack);
  CallZEL_Commandes(app, statement, "*.*");
  inEngine = false;
  return 0;
}
}
