// zel-probe: the native half of "zel check".
//
//   zel-probe list APP          what the application has installed, a line
//                               each, fields separated by tabs:
//                                 pack <path>
//                                 syntax-module <path>
//                                 module <path> <pack path>
//                                 message <number> ok|missing|no-E1|unreadable
//                                 stop-answer <text>
//   zel-probe load KIND PATH    loads one module as the engine would (KIND is
//                               "module" or "syntax-module"), without calling
//                               it; prints "ok" or the loader's error text.
//
// "zel check" runs each load in a process of its own, so a module that
// crashes while loading cannot take the check down with it.
#include <dirent.h>
#include <dlfcn.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "exec/statement.h"
#include "support/lang.h"
#include "support/text.h"
#include "syntax/syntax_match.h"
#include "zel/state.h"

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

void listModulesOf(const std::string& app, const std::string& pack, std::set<std::string>& seen) {
  std::ifstream file(pack, std::ios::binary);
  std::string raw, syntaxLine;
  while (std::getline(file, raw)) {
    if (!toSyntaxLine(raw, syntaxLine)) continue;
    const std::string module = app + "/node_modules/" + packName(pack) + "/" +
                               parameterText(syntaxLine) + ".so";
    if (seen.insert(module).second) std::printf("module\t%s\t%s\n", module.c_str(), pack.c_str());
  }
}

void listMessages() {
  const char* numbers[] = {"1", "2", "3", "4", "9", "10", "11", "12", "14", "18", "19", "20", "21", "35"};
  const std::set<std::string> filled = {"1", "2", "3", "4", "11", "14", "18"};
  for (const char* n : numbers) {
    const std::string text = goResponseLANG(n);
    const char* state = text == catalogFailureText() ? "unreadable"
                        : text.empty()               ? "missing"
                        : filled.count(n) && text.find(":E1:") == std::string::npos ? "no-E1"
                                                                                     : "ok";
    std::printf("message\t%s\t%s\n", n, state);
  }
  std::printf("stop-answer\t%s\n", goResponseLANG("21").c_str());
}

int list(const std::string& app) {
  myAbsolutePathDirApp = app;
  const std::string modules = app + "/node_modules/";
  std::set<std::string> seen;
  for (const std::string& pack : entriesWith(modules, "zel")) {
    std::printf("pack\t%s\n", pack.c_str());
    listModulesOf(app, pack, seen);
  }
  for (const std::string& lib : entriesWith(modules + "korrin_linux/", "so")) {
    std::printf("syntax-module\t%s\n", lib.c_str());
  }
  listMessages();
  return 0;
}

int load(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "r");
  if (f == nullptr) {
    std::printf("file not found or not readable\n");
    return 1;
  }
  std::fclose(f);
  void* handle = dlopen(path.c_str(), RTLD_LAZY);
  if (handle == nullptr) {
    std::printf("%s\n", dlerror());
    return 1;
  }
  for (const char* entry : {"create", "destroy"}) {
    dlerror();
    if (dlsym(handle, entry) == nullptr) {
      std::printf("%s\n", dlerror());
      return 1;
    }
  }
  std::printf("ok\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 2 && args[0] == "list") return list(args[1]);
  if (args.size() == 3 && args[0] == "load") return load(args[2]);
  std::fprintf(stderr, "usage: zel-probe list APP | zel-probe load KIND PATH\n");
  return 2;
}
