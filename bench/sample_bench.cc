// Sample pack benchmark: what the calculator pack's own modules cost per
// statement, for the program of 10,000 "set width to <v>;" statements.
//
// The floor is the bare module calls the engine makes for that program,
// with the same texts: for each statement the syntax module (forms.so) is
// asked with the pattern of each form before "set" ("say <text>", which it
// answers with no opinion), then with "set <name> to <number>", which it
// accepts; then the pack module (vars.so) runs with the program path, ";"
// and the statement. Modules are loaded once; each call creates, calls and
// destroys an object, as the engine does. The same program is then run
// through the engine, so that the two figures can be compared.
//
// Usage: sample_bench [APP_DIR]   (default: the sample the build lays out)
#include <dlfcn.h>
#include <stdlib.h>

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

constexpr int kStatements = 10000;
constexpr int kRounds = 7;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The module's create and destroy entries, or exits when it cannot be loaded.
template <typename Create, typename Destroy>
void entries(const fs::path& path, Create*& create, Destroy*& destroy) {
  void* lib = dlopen(path.c_str(), RTLD_NOW);
  if (lib == nullptr) {
    std::fprintf(stderr, "cannot load %s: %s\n", path.c_str(), dlerror());
    std::exit(1);
  }
  create = reinterpret_cast<Create*>(dlsym(lib, "create"));
  destroy = reinterpret_cast<Destroy*>(dlsym(lib, "destroy"));
}

struct Calls {
  create_lib_t* formsCreate;
  destroy_lib_t* formsDestroy;
  create_t* varsCreate;
  destroy_t* varsDestroy;
};

// Seconds for the bare module calls of the program; `last` gets the result
// of the last statement.
double floorSeconds(const Calls& calls, const std::string& program,
                    const std::vector<std::string>& statements, std::string& last) {
  const std::string before = "say <text>";
  const std::string pattern = "set <name> to <number>";
  std::vector<std::string> inputs;
  for (const std::string& s : statements) inputs.push_back(program + ";" + s + ";");
  size_t rejected = 0;
  const auto start = Clock::now();
  for (size_t i = 0; i < statements.size(); ++i) {
    LibModuleObject* forms = calls.formsCreate();
    rejected += forms->check(before, statements[i]).empty() ? 0 : 1;
    calls.formsDestroy(forms);
    forms = calls.formsCreate();
    rejected += forms->check(pattern, statements[i]) == statements[i] ? 0 : 1;
    calls.formsDestroy(forms);
    ModuleObject* vars = calls.varsCreate();
    last = vars->execute(inputs[i]);
    calls.varsDestroy(vars);
  }
  const double seconds = secondsSince(start);
  if (rejected != 0) last = "(unexpected syntax answers!)";
  return seconds;
}

double engineSeconds(const fs::path& app, const std::string& program, std::string& last) {
  FirstResponse = "set";  // keep every result
  const auto start = Clock::now();
  last = CallZEL_Executer(app.string(), program);
  return secondsSince(start);
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path app = fs::absolute(argc > 1 ? argv[1] : SAMPLE_DIR);
  const fs::path modules = app / "node_modules";
  Calls calls{};
  entries(modules / "korrin_linux/forms.so", calls.formsCreate, calls.formsDestroy);
  entries(modules / "calculator/vars.so", calls.varsCreate, calls.varsDestroy);

  std::string pattern = (fs::temp_directory_path() / "zel-sample-bench-XXXXXX").string();
  const fs::path scratch = mkdtemp(pattern.data());
  const std::string program = (scratch / "program.txt").string();
  std::vector<std::string> statements;
  std::string text = ":s:calculator.zel;\n";
  for (int i = 0; i < kStatements; ++i) {
    statements.push_back("set width to " + std::to_string(i));
    text += statements.back() + ";\n";
  }
  std::ofstream(program, std::ios::binary) << text;

  // Best of a few interleaved rounds: the machine is shared.
  double floor = 1e9, engine = 1e9;
  std::string floorResult, engineResult;
  for (int round = 0; round < kRounds; ++round) {
    floor = std::min(floor, floorSeconds(calls, program, statements, floorResult));
    engine = std::min(engine, engineSeconds(app, program, engineResult));
  }
  const std::string expected = "width = " + std::to_string(kStatements - 1);
  std::printf("sample pack, %d \"set width to <v>;\" statements (%s):\n", kStatements,
              app.c_str());
  std::printf("  module calls alone %8.3f us/statement%s\n", floor / kStatements * 1e6,
              floorResult == expected ? "" : "  (unexpected result!)");
  std::printf("  through Executer   %8.3f us/statement, %.2f us beyond the module calls%s\n",
              engine / kStatements * 1e6, (engine - floor) / kStatements * 1e6,
              engineResult == expected ? "" : "  (unexpected result!)");
  fs::remove_all(scratch);
  return 0;
}
