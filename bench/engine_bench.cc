// Engine benchmark: statements per second against the bare cost of the
// module calls they make, and compiler throughput.
//
// For each case (N statements, L syntax lines, M syntax modules) it builds a
// scratch application, runs a generated program through CallZEL_Executer and
// prints statements per second. Statement i uses syntax line i mod L, so it
// costs (i mod L) * M + 1 syntax module calls and one pack module call. The
// floor is the same bare calls with the same texts (module loaded once;
// create, call, destroy each time), and the ratio says how far the engine
// is from it.
// Each program is then compiled and run again, against the source's time.
// Then it checks that costs stay flat: time per statement for 1,000 and
// 100,000 statements, and time per byte for statements of 1 KB and 1 MB
// (source, compiled, and the compilation itself). Last, it compiles a 10 MB
// script and prints MB/s.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/inotify.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "modules/zel_module.h"
#include "base/state.h"
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

// Seconds for the bare module calls the program at `program` makes, with the
// texts the engine passes: for statement i, every syntax module is asked
// with the pattern of each form before form i mod L, then the first one
// accepts with the pattern of that form; then the pack module runs with the
// program path and the statement. Modules are loaded once; each call
// creates, calls and destroys an object.
double floorSeconds(const std::string& program, int n, int l, int m) {
  // The application's own copies of the modules, one object per syntax
  // module as the engine has: M copies of one module's code cost more than
  // one copy called M times (more code for the processor's caches).
  const fs::path modules = fs::path(program).parent_path() / "node_modules";
  std::vector<create_lib_t*> libCreate;
  std::vector<destroy_lib_t*> libDestroy;
  for (int j = 0; j < m; ++j) {
    const fs::path file = modules / "korrin_linux" / ("forms" + std::to_string(j) + ".so");
    void* lib = dlopen(file.c_str(), RTLD_LAZY);
    libCreate.push_back(reinterpret_cast<create_lib_t*>(dlsym(lib, "create")));
    libDestroy.push_back(reinterpret_cast<destroy_lib_t*>(dlsym(lib, "destroy")));
  }
  void* op = dlopen((modules / "bench" / "op.so").c_str(), RTLD_LAZY);
  auto opCreate = reinterpret_cast<create_t*>(dlsym(op, "create"));
  auto opDestroy = reinterpret_cast<destroy_t*>(dlsym(op, "destroy"));
  std::vector<std::string> patterns, statements, inputs;
  for (int k = 0; k < l; ++k) {
    patterns.push_back("f" + std::to_string(k));
    statements.push_back(patterns.back() + " with an argument");
    inputs.push_back(program + ";" + statements.back() + ";");
  }
  size_t sink = 0;
  const auto start = Clock::now();
  for (int i = 0; i < n; ++i) {
    const int form = i % l;
    const std::string& statement = statements[form];
    for (int k = 0; k <= form; ++k) {
      for (int j = 0; j < (k < form ? m : 1); ++j) {
        LibModuleObject* o = libCreate[j]();
        sink += o->check(patterns[k], statement).size();
        libDestroy[j](o);
      }
    }
    ModuleObject* o = opCreate();
    sink += o->execute(inputs[form]).size();
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

// Seconds for `n` of the checks the engine makes, at most every 100 us of
// run time, to see whether anything on disk changed: epoll_wait, without
// waiting, over an inotify descriptor and the mount table.
double changeCheckSeconds(int n) {
  const int inotifyFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  const int mountsFd = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
  const int epollFd = epoll_create1(EPOLL_CLOEXEC);
  epoll_event inotifyReady{};
  inotifyReady.events = EPOLLIN;
  epoll_event mountsChanged{};
  mountsChanged.events = EPOLLPRI;
  epoll_ctl(epollFd, EPOLL_CTL_ADD, inotifyFd, &inotifyReady);
  epoll_ctl(epollFd, EPOLL_CTL_ADD, mountsFd, &mountsChanged);
  const auto start = Clock::now();
  epoll_event ready[2];
  for (int i = 0; i < n; ++i) epoll_wait(epollFd, ready, 2, 0);
  const double seconds = secondsSince(start);
  for (const int fd : {epollFd, mountsFd, inotifyFd}) close(fd);
  return seconds;
}

// Rounds of runCase: each runs the program and its bare module calls one
// right after the other (in turn first), then the epoll_wait loop, so that
// what the machine's load does to one round it does to both parts alike.
constexpr int kRounds = 21;

// CPU seconds this thread has used: unlike the wall clock, it does not count
// the time other jobs on a shared machine hold the processor.
double threadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return now.tv_sec + now.tv_nsec * 1e-9;
}

// The median of `values` (an odd count).
double medianOf(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void runCase(const fs::path& scratch, int n, int l, int m) {
  const fs::path app = scratch / ("app-" + std::to_string(n) + "-" + std::to_string(l) + "-" +
                                  std::to_string(m));
  const std::string program = makeApp(app, n, l, m);
  std::string result;
  // Best of the rounds (wall clock) for the run and for its floor. The
  // engine beyond the module calls is counted in the thread's CPU time,
  // which other jobs do not add to, as the best run less the best floor
  // (another job only ever adds time, so each best comes near the cost
  // itself); the median of the rounds' own differences is shown beside it.
  // Beside them the cost of one epoll_wait (what a statement paid for its
  // change check before the check read the clock instead), measured in the
  // same rounds.
  double seconds = 1e9, floor = 1e9, check = 1e9, bestRunCpu = 1e9, bestBareCpu = 1e9;
  std::vector<double> beyond;
  for (int round = 0; round < kRounds; ++round) {
    double run = 0, bare = 0, runCpu = 0, bareCpu = 0;
    const auto timedRun = [&] {
      const double cpu = threadCpuSeconds();
      run = timeRun(app, program, result);
      runCpu = threadCpuSeconds() - cpu;
    };
    if (round % 2 == 0) timedRun();
    const double cpu = threadCpuSeconds();
    bare = floorSeconds(program, n, l, m);
    bareCpu = threadCpuSeconds() - cpu;
    if (round % 2 != 0) timedRun();
    seconds = std::min(seconds, run);
    floor = std::min(floor, bare);
    beyond.push_back(runCpu - bareCpu);
    bestRunCpu = std::min(bestRunCpu, runCpu);
    bestBareCpu = std::min(bestBareCpu, bareCpu);
    check = std::min(check, changeCheckSeconds(n));
  }
  std::printf("N=%6d L=%3d M=%d  %10.0f statements/s  %8.2f us/statement  "
              "floor %7.3f us/statement  ratio %6.1fx%s\n",
              n, l, m, n / seconds, seconds / n * 1e6, floor / n * 1e6, seconds / floor,
              result == "ok" ? "" : "  (unexpected result!)");
  const double engine = bestRunCpu - bestBareCpu;
  // Every statement is offered to (i mod L) * M + 1 forms and modules.
  double offered = 0;
  for (int i = 0; i < n; ++i) offered += (i % l) * m + 1;
  std::printf("%24s engine beyond the module calls: %.2f us/statement, %.1f ns per form offered "
              "(CPU time, best less best of %d interleaved rounds; median of the rounds' "
              "differences %.2f us) (one epoll_wait, no longer paid per statement, costs %.2f us)\n",
              "", engine / n * 1e6, engine / offered * 1e9, kRounds,
              medianOf(beyond) / n * 1e6, check / n * 1e6);
  // The same program compiled.
  CallZEL_Compiler(program, ".zel");
  std::string compiledResult;
  const double compiled = timeRun(app, (app / "program.zel").string(), compiledResult);
  std::printf("%24s compiled: %8.2f us/statement, %.2fx the source%s\n", "", compiled / n * 1e6,
              compiled / seconds, compiledResult == "ok" ? "" : "  (unexpected result!)");
}

// Builds an application with one form and one syntax module, and a program
// of `n` statements of about `bytes` bytes each. Returns the program path.
std::string makeWideApp(const fs::path& app, int n, size_t bytes) {
  const std::string program = makeApp(app, 1, 1, 1);
  const std::string statement = "f0 " + std::string(bytes > 4 ? bytes - 4 : 1, 'x') + ";\n";
  std::string text = ":s:bench.zel;\n";
  for (int i = 0; i < n; ++i) text += statement;
  writeFile(program, text);
  return program;
}

// Time per statement for `n` statements (L=10, M=2).
double perStatement(const fs::path& scratch, int n) {
  const fs::path app = scratch / ("flat-" + std::to_string(n));
  const std::string program = makeApp(app, n, 10, 2);
  std::string result;
  return timeRun(app, program, result) / n;
}

void flatCases(const fs::path& scratch) {
  // Warm-up, so that the first case does not pay for loading the modules.
  perStatement(scratch, 100);
  const double small = perStatement(scratch, 1000);
  const double large = perStatement(scratch, 100000);
  std::printf("flat: %.2f us/statement for 1,000 statements, %.2f for 100,000 (%.2fx)\n",
              small * 1e6, large * 1e6, large / small);
  double perByte[2][3];  // [1 KB, 1 MB][source, compiled, compilation]
  const size_t sizes[2] = {1024, 1024 * 1024};
  for (int k = 0; k < 2; ++k) {
    // About 16 MB of statements either way.
    const int n = static_cast<int>((16u << 20) / sizes[k]);
    const fs::path app = scratch / ("wide-" + std::to_string(sizes[k]));
    const std::string program = makeWideApp(app, n, sizes[k]);
    const double bytes = static_cast<double>(n) * sizes[k];
    std::string result;
    // Best of three: writing 200 MB of compiled program depends on what the
    // page cache is doing at the time.
    for (double& best : perByte[k]) best = 1e9;
    for (int round = 0; round < 3; ++round) {
      perByte[k][0] = std::min(perByte[k][0], timeRun(app, program, result) / bytes);
      const auto start = Clock::now();
      CallZEL_Compiler(program, ".zel");
      perByte[k][2] = std::min(perByte[k][2], secondsSince(start) / bytes);
      perByte[k][1] = std::min(perByte[k][1],
                               timeRun(app, (app / "program.zel").string(), result) / bytes);
    }
    fs::remove_all(app);
    sync();
  }
  const char* names[3] = {"source run", "compiled run", "compilation"};
  for (int part = 0; part < 3; ++part) {
    std::printf("flat: %-12s %6.2f ns/byte for 1 KB statements, %6.2f for 1 MB (%.2fx)\n",
                names[part], perByte[0][part] * 1e9, perByte[1][part] * 1e9,
                perByte[1][part] / perByte[0][part]);
  }
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

// One run of the program, and the bare module calls it makes, each in a
// function of its own, so that an instruction counter can be limited to
// either (valgrind --tool=callgrind --toggle-collect='*profiledRun*').
__attribute__((noinline)) void profiledRun(const fs::path& app, const std::string& program) {
  std::string result;
  timeRun(app, program, result);
  if (result != "ok") std::printf("unexpected result: %s\n", result.c_str());
}

__attribute__((noinline)) void profiledFloor(const std::string& program, int n, int l, int m) {
  floorSeconds(program, n, l, m);
}

// `n` Commandes calls of the program's first statement.
__attribute__((noinline)) void profiledCommandes(const fs::path& app, int n) {
  const std::string syntax = (app / "node_modules/bench.zel").string();
  size_t sink = 0;
  for (int i = 0; i < n; ++i) sink += CallZEL_Commandes(app.string(), "f0 with an argument;", syntax).size();
  if (sink != 2u * n) std::printf("unexpected Commandes results\n");
}

// "profile N L M": the case (N, L, M) run twice to warm the caches, then
// once in profiledRun, then its floor in profiledFloor, then N Commandes
// calls in profiledCommandes.
void profileCase(const fs::path& scratch, int n, int l, int m) {
  const fs::path app = scratch / "app-profile";
  const std::string program = makeApp(app, n, l, m);
  std::string result;
  for (int round = 0; round < 2; ++round) timeRun(app, program, result);
  profiledRun(app, program);
  profiledFloor(program, n, l, m);
  profiledCommandes(app, n);
}

}  // namespace

// With "statements", "flat" or "compile" as argument, runs only that part;
// with "profile N L M", one case for an instruction counter.
int main(int argc, char** argv) {
  const std::string only = argc > 1 ? argv[1] : "";
  std::string pattern = (fs::temp_directory_path() / "zel-bench-XXXXXX").string();
  const fs::path scratch = mkdtemp(pattern.data());
  if (only == "profile" && argc == 5) {
    fs::current_path(scratch);
    profileCase(scratch, std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]));
    fs::remove_all(scratch);
    return 0;
  }
  // The compiler writes its request log to the working directory.
  fs::current_path(scratch);
  if (only.empty() || only == "statements") {
    runCase(scratch, 10000, 1, 1);
    runCase(scratch, 10000, 10, 2);
    runCase(scratch, 2000, 50, 3);
  }
  if (only.empty() || only == "flat") flatCases(scratch);
  if (only.empty() || only == "compile") {
    makeApp(scratch / "app-compile", 1, 1, 1);
    myAbsolutePathDirApp = (scratch / "app-compile").string();
    compileCase(scratch);
  }
  fs::remove_all(scratch);
  return 0;
}
