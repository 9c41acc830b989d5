// zel-probe: the native half of "zel check" and "zel add-pack".
//
//   zel-probe list APP          what the application has installed, a line
//                               each, fields separated by tabs:
//                                 pack <path>
//                                 syntax-module <path>
//                                 message <number> ok|missing|no-E1|unreadable <line>
//                                 stop-answer <text>
//                               (<line> is the catalogue line that holds the
//                               message, 0 when none does).
//   zel-probe forms PACK DIR    the forms of the syntax pack file PACK, read as
//                               the engine reads them, with the modules they
//                               name looked for in DIR:
//                                 module <path> <line>
//                                 no-module <line> <syntax line>
//                                 outside-module <line> <module name>
//                               or "unreadable" when the engine would not
//                               read PACK (no regular file, say a FIFO).
//   zel-probe load KIND PATH    loads one module as the engine would (KIND is
//                               "module" or "syntax-module"), then creates
//                               and destroys one object, without calling it;
//                               prints "ok" and exits 0, or prints what is
//                               wrong and exits 1: "unreadable" when the
//                               engine's existence test refuses the file (it
//                               would report message 4), else the loader's
//                               or the engine's text.
//
// The callers run each load in a process of its own, so that a module that
// crashes while loading, or while its object is made, is reported as such.
#include <dirent.h>
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "exec/statement.h"
#include "modules/file_identity.h"
#include "modules/zel_module.h"
#include "lang/lang.h"
#include "base/text.h"
#include "syntax/syntax_match.h"
#include "base/state.h"
#include "entries/classic.h"

namespace {

// Directory entries whose second name piece is `extension`, as the engine
// picks packs and syntax modules, in directory order.
std::vector<std::string> entriesWith(const std::string& dir, const std::string& extension) {
  std::vector<std::string> paths;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return paths;
  while (const dirent* entry = readdir(d)) {
    const std::vector<std::string> pieces = entryNamePieces(entry->d_name);
    if (pieces.size() >= 2 && pieces[1] == extension) {
      paths.push_back(withoutLineBreaks(dir + pieces[0] + "." + extension));
    }
  }
  closedir(d);
  return paths;
}

int forms(const std::string& pack, const std::string& moduleDir) {
  // Read as the engine reads a pack: a FIFO or a directory is not waited on.
  std::ifstream file;
  if (!openForReading(pack, file)) {
    std::printf("unreadable\n");
    return 0;
  }
  std::set<std::string> seen;
  std::string raw, syntaxLine;
  for (int line = 1; std::getline(file, raw); ++line) {
    if (!toSyntaxLine(raw, syntaxLine)) continue;
    const std::string name = parameterText(syntaxLine);
    if (syntaxLine.find('(') == std::string::npos) {
      std::printf("no-module\t%d\t%s\n", line, syntaxLine.c_str());
    } else if (!isPackModuleName(name)) {
      std::printf("outside-module\t%d\t%s\n", line, withVisibleNul(name).c_str());
    } else if (seen.insert(name).second) {
      std::printf("module\t%s/%s.so\t%d\n", moduleDir.c_str(), name.c_str(), line);
    }
  }
  return 0;
}

// The line of the catalogue the engine takes message `number` from (the
// first one holding ":<number>:"), or 0.
int catalogueLine(const std::vector<std::string>& lines, const std::string& number) {
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].empty() || lines[i] == "-;") continue;
    if (lines[i].find(":" + number + ":") != std::string::npos) return static_cast<int>(i + 1);
  }
  return 0;
}

void listMessages() {
  const char* numbers[] = {"1", "2", "3", "4", "9", "10", "11", "12", "14", "18", "19", "20", "21", "35",
                           "36", "37"};
  const std::set<std::string> filled = {"1", "2", "3", "4", "11", "14", "18", "37"};
  std::ifstream file(catalogPath(), std::ios::binary);
  std::vector<std::string> lines;
  for (std::string text; std::getline(file, text);) lines.push_back(text);
  for (const char* n : numbers) {
    const std::string text = goResponseLANG(n);
    const char* state = text == catalogFailureText() ? "unreadable"
                        : text.empty()               ? "missing"
                        : filled.count(n) && text.find(":E1:") == std::string::npos ? "no-E1"
                                                                                     : "ok";
    std::printf("message\t%s\t%s\t%d\n", n, state, catalogueLine(lines, n));
  }
  std::printf("stop-answer\t%s\n", goResponseLANG("21").c_str());
}

int list(const std::string& app) {
  myAbsolutePathDirApp = app;
  const std::string modules = app + "/node_modules/";
  for (const std::string& pack : entriesWith(modules, "zel")) {
    std::printf("pack\t%s\n", pack.c_str());
  }
  for (const std::string& lib : entriesWith(modules + "korrin_linux/", "so")) {
    std::printf("syntax-module\t%s\n", lib.c_str());
  }
  listMessages();
  return 0;
}

// The C++ name a module exports for `entry` when it was declared without
// extern "C", or null when it does not export that either.
const char* mangledEntry(void* handle, const std::string& entry, bool syntaxModule) {
  const char* name = entry == "create"   ? "_Z6createv"
                     : syntaxModule      ? "_Z7destroyP15LibModuleObject"
                                         : "_Z7destroyP12ModuleObject";
  return dlsym(handle, name) != nullptr ? name : nullptr;
}

// Creates one object through `create` and gives it back to `destroy`, as the
// engine does around each call. Returns "" or what went wrong.
template <class Object>
std::string createAndDestroy(void* create, void* destroy) {
  Object* object = nullptr;
  try {
    object = reinterpret_cast<Object* (*)()>(create)();
  } catch (const std::exception& error) {
    return std::string("create() threw an exception: ") + error.what();
  } catch (...) {
    return "create() threw an exception";
  }
  if (object == nullptr) return "create() returned no object";
  reinterpret_cast<void (*)(Object*)>(destroy)(object);
  return "";
}

std::string loadProblem(const std::string& path, bool syntaxModule) {
  // The engine's own test: a FIFO or a directory is refused at once.
  FileIdentity identity;
  const int fd = openModuleFile(path, identity);
  if (fd < 0) return "unreadable";
  close(fd);
  void* handle = dlopen(path.c_str(), RTLD_LAZY);
  if (handle == nullptr) return dlerror();
  void* entries[2] = {nullptr, nullptr};
  const char* names[2] = {"create", "destroy"};
  for (int i = 0; i < 2; ++i) {
    dlerror();
    entries[i] = dlsym(handle, names[i]);
    if (entries[i] != nullptr) continue;
    std::string text = dlerror();
    if (const char* mangled = mangledEntry(handle, names[i], syntaxModule)) {
      text += std::string(" (it exports the C++ name ") + mangled + " instead)";
    }
    return text;
  }
  return syntaxModule ? createAndDestroy<LibModuleObject>(entries[0], entries[1])
                      : createAndDestroy<ModuleObject>(entries[0], entries[1]);
}

int load(const std::string& kind, const std::string& path) {
  const std::string problem = loadProblem(path, kind == "syntax-module");
  std::printf("%s\n", problem.empty() ? "ok" : problem.c_str());
  std::fflush(stdout);
  return problem.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 2 && args[0] == "list") return list(args[1]);
  if (args.size() == 3 && args[0] == "forms") return forms(args[1], args[2]);
  if (args.size() == 3 && args[0] == "load") return load(args[1], args[2]);
  std::fprintf(stderr, "usage: zel-probe list APP | zel-probe forms PACK DIR | zel-probe load KIND PATH\n");
  return 2;
}
