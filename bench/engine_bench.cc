// Engine benchmark: statements per second against the bare cost of the
// module calls they make, and compiler throughput.
//
// For each case (N statements, L syntax lines, M syntax modules) it builds a
// scratch application, runs a generated program through CallZEL_Executer and
// prints statements per second. Statement i uses syntax line i mod L, so it
// costs (i mod L) * M + 1 syntax module calls and one pack module call. The
// floor is the same number of bare calls (module loaded once; create, call,
// destroy each time), and the ratio says how far the engine is from it.
// Each program is then compiled and run again, against the source's time.
// Last, it compiles a 10 MB script and prints MB/s.
#include <dlfcn.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "modules/zel_module.h"
#include "zel/state.h"
#include "zel/zel.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void writeFile(const fs::path& path, const std::string& content) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

// Lays out an application with L forms and M syntax modules; returns the
// program path.
std::string makeApp(const fs::path& app, int n, int l, int m) {
  const fs::path modules = app / "node_modules";
  for (const char* dir : {"zel_linux", "korrin_linux", "bench"}) fs::create_directories(modules / dir);
  fs::copy_file(fs::path(ZEL_SOURCE_DIR) / "lang/lang.conf", modules / "zel_linux/lang.conf",
                fs::copy_options::overwrite_existing);
  for (int i = 0; i < m; ++i) {
    fs::copy_file(fs::path(BENCH_MODULE_DIR) / "bench_syntax.so",
                  modules / "korrin_linux" / ("forms" + std::to_string(i) + ".so"));
  }
  fs::copy_file(fs::path(BENCH_MODULE_DIR) / "bench_op.so", modules / "bench/op.so");
  std::string syntax;
  for (int i = 0; i < l; ++i) syntax += "f" + std::to_string(i) + " (op)\n";
  writeFile(modules / "bench.zel", syntax);
  std::string program = ":s:bench.zel;\n";
  // Lines of 13 bytes or more, so that the program can also be compiled.
  for (int i = 0; i < n; ++i) program += "f" + std::to_string(i % l) + " with an argument;\n";
  writeFile(app / "program.txt", program);
  return (app / "program.txt").string();
}

// Seconds for `syntaxCalls` bare syntax module calls and `packCalls` bare
// pack module calls.
double floorSeconds(long syntaxCalls, long packCalls) {
  void* lib = dlopen((std::string(BENCH_MODULE_DIR) + "/bench_syntax.so").c_str(), RTLD_LAZY);
  void* op = dlopen((std::string(BENCH_MODULE_DIR) + "/bench_op.so").c_str(), RTLD_LAZY);
  auto libCreate = reinterpret_cast<create_lib_t*>(dlsym(lib, "create"));
  auto libDestroy = reinterpret_cast<destroy_lib_t*>(dlsym(lib, "destroy"));
  auto opCreate = reinterpret_cast<create_t*>(dlsym(op, "create"));
  auto opDestroy = reinterpret_cast<destroy_t*>(dlsym(op, "destroy"));
  size_t sink = 0;
  const auto start = Clock::now();
  for (long i = 0; i < syntaxCalls; ++i) {
    LibModuleObject* o = libCreate();
    sink += o->check("f1", "f0 arg").size();
    libDestroy(o);
  }
  for (long i = 0; i < packCalls; ++i) {
    ModuleObject* o = opCreate();
    sink += o->execute("program.txt;f0 arg;").size();
    opDestroy(o);
  }
  const double seconds = secondsSince(start);
  if (sink == 42) std::printf(" ");
  return seconds;
}

double timeRun(const fs::path& app, const std::string& program, std::string& result) {
  FirstResponse = "set";  // keep every result
  const auto start = Clock::now();
  result = CallZEL_Executer(app.string(), program);
  return secondsSince(start);
}

void runCase(const fs::path& scratch, int n, int l, int m) {
  const fs::path app = scratch / ("app-" + std::to_string(n) + "-" + std::to_string(l) + "-" +
                                  std::to_string(m));
  const std::string program = makeApp(app, n, l, m);
  std::string result;
  const double seconds = timeRun(app, program, result);
  long syntaxCalls = 0;
  for (int i = 0; i < n; ++i) syntaxCalls += static_cast<long>(i % l) * m + 1;
  const double floor = floorSeconds(syntaxCalls, n);
  std::printf("N=%6d L=%3d M=%d  %10.0f statements/s  %8.2f us/statement  "
              "floor %7.3f us/statement  ratio %6.1fx%s\n",
              n, l, m, n / seconds, seconds / n * 1e6, floor / n * 1e6, seconds / floor,
              result == "ok" ? "" : "  (unexpected result!)");
  // The same program compiled.
  CallZEL_Compiler(program, ".zel");
  std::string compiledResult;
  const double compiled = timeRun(app, (app / "program.zel").string(), compiledResult);
  std::printf("%24s compiled: %8.2f us/statement, %.2fx the source%s\n", "", compiled / n * 1e6,
              compiled / seconds, compiledResult == "ok" ? "" : "  (unexpected result!)");
}

void compileCase(const fs::path& scratch) {
  std::string script;
  const std::string line = "say this is a line of a long benchmark script, number ";
  for (int i = 0; script.size() < (10u << 20); ++i) script += line + std::to_string(i) + ";\n";
  const fs::path source = scratch / "big.txt";
  writeFile(source, script);
  const auto start = Clock::now();
  const std::string result = CallZEL_Compiler(source.string(), ".zel");
  const double seconds = secondsSince(start);
  std::printf("compile %.1f MB: %.2f s, %.1f MB/s (%s)\n", script.size() / 1e6, seconds,
              script.size() / 1e6 / seconds, result.c_str());
}

}  // namespace

// With "statements" or "compile" as argument, runs only that part (for
// profiling).
int main(int argc, char** argv) {
  const std::string only = argc > 1 ? argv[1] : "";
  std::string pattern = (fs::temp_directory_path() / "zel-bench-XXXXXX").string();
  const fs::path scratch = mkdtemp(pattern.data());
  // The compiler writes its request log to the working directory.
  fs::current_path(scratch);
  if (only != "compile") {
    runCase(scratch, 10000, 1, 1);
    runCase(scratch, 10000, 10, 2);
    runCase(scratch, 2000, 50, 3);
  }
  if (only != "statements") {
    makeApp(scratch / "app-compile", 1, 1, 1);
    myAbsolutePathDirApp = (scratch / "app-compile").string();
    compileCase(scratch);
  }
  fs::remove_all(scratch);
  return 0;
}
