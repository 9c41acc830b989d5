// Programs, compiled programs and statements come from users; what the
// application's author installed under node_modules is trusted. Each test
// drives one boundary with the inputs a hostile user would try.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "lang/lang.h"
#include "support/engine_test.h"
#include "entries/entries.h"
#include "entries/recorded_call.h"
#include "call/call.h"
#include "base/state.h"
#include "zel/zel.h"
#include "entries/classic.h"

namespace {

namespace fs = std::filesystem;

const std::string kNul(1, '\0');

// An application with a "calc" pack whose modules echo, and an upload area
// beside node_modules holding a pack and a module a user put there.
class BoundaryTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    app_.installPackModule("calc", "echo_module", "printer");
    app_.write("uploads/calc.zel", "print (printer)\n");
    app_.install("echo_module", "uploads/evil.so");
  }
  std::string command(const std::string& statement) {
    return CallZEL_Commandes(app_.path(), statement, syntax_);
  }
  // The text of a module's fixture_counts(), loaded by the same path.
  static std::string counts(const std::string& modulePath) {
    void* h = dlopen(modulePath.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (h == nullptr) return "<not loaded>";
    auto get = reinterpret_cast<const char* (*)()>(dlsym(h, "fixture_counts"));
    return get ? get() : "<no counts>";
  }

  std::string syntax_ = app_.syntaxFile("calc", "print (printer)\n");
};

// A header names a syntax file lexically below node_modules, plain or
// compiled, folded on its text: a ".." after a link never climbs from the
// link's target. Symbolic links placed there by the author keep working. A
// syntax file whose pack name is "", "." or ".." runs no module.
TEST_F(BoundaryTest, HeaderStaysBelowNodeModules) {
  fs::create_directories(app_.path() + "/elsewhere/linked");
  app_.write("elsewhere/linked.zel", "print (printer)\n");
  app_.write("elsewhere/linked/calc.zel", "print (printer)\n");
  app_.install("echo_module", "elsewhere/linked/printer.so");
  fs::create_symlink(app_.path() + "/elsewhere/linked.zel", app_.modules() + "linked.zel");
  fs::create_symlink(app_.path() + "/elsewhere/linked", app_.modules() + "linked");
  fs::create_directories(app_.modules() + "sub");
  // What npm makes of a "file:" dependency, and uploads it could climb to.
  fs::create_directories(app_.path() + "/uploads/lib");
  fs::create_symlink("../uploads/lib", app_.modules() + "mylib");
  app_.write("uploads/x.zel", "print (printer)\n");
  app_.write("uploads/...zel", "print (printer)\n");
  app_.write("node_modules/...zel", "print (uploads/evil)\n");
  app_.write("node_modules/..zel", "print (calc/printer)\n");
  app_.write("node_modules/.zel", "print (calc/printer)\n");
  const std::string m = app_.modules();
  struct Case {
    std::string header;
    std::string refusal;  // "" when the header is accepted
  };
  const std::vector<Case> cases = {
      {"../uploads/calc.zel", "M1 ../uploads/calc.zel"},
      {"calc/../../uploads/calc.zel", "M1 calc/../../uploads/calc.zel"},
      {app_.path() + "/uploads/calc.zel", "M1 " + app_.path() + "/uploads/calc.zel"},
      {".\t./uploads/calc.zel", "M1 ../uploads/calc.zel"},  // a tab is dropped from the path
      {"calc.zel" + kNul + "x", "M1 calc.zel\\0x"},
      {"calc.zel", ""},
      {"sub/../calc.zel", ""},
      {"linked.zel", ""},
      {"linked/calc.zel", ""},
      {"mylib/../x.zel", "M1 " + m + "x.zel"},
      {"mylib/../...zel", "M4 " + m + "../uploads/evil.so"},
      {"...zel", "M4 " + m + "../uploads/evil.so"},
      {"..zel", "M4 " + m + "./calc/printer.so"},
      {".zel", "M4 " + m + "/calc/printer.so"},
  };
  for (const Case& c : cases) {
    const std::string plain = app_.write("prog.txt", ":s:" + c.header + ";\nprint hello there;\n");
    const std::string comp = app_.write(
        "prog.zel", compiled(":s:" + c.header + "; header") + "\n" + compiled("print hello there;") + "\n");
    for (const std::string& prog : {plain, comp}) {
      const std::string result = CallZEL_Executer(app_.path(), prog);
      if (c.refusal.empty()) {
        EXPECT_EQ(result.rfind("ran " + prog + ";print hello there", 0), 0u) << result;
      } else {
        EXPECT_EQ(result, c.refusal) << prog;
      }
    }
  }
}

// A form's module name never leaves its pack: the file it would name is
// never loaded, even when one is there.
TEST_F(BoundaryTest, ModuleNamesStayInTheirPack) {
  app_.install("echo_module", "node_modules/calc/ok");  // what a NUL would cut the path to
  app_.install("echo_module", "node_modules/calc/sub/inner.so");
  app_.syntaxFile("calc",
                  "a (../../uploads/evil)\nb (" + app_.path() + "/uploads/evil)\nc ()\n"
                  "d (sub/../../../uploads/evil)\ne (ok" + kNul + "x)\nf (sub/inner)\n");
  const std::string pack = app_.modules() + "calc/";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"a x;", "M4 " + pack + "../../uploads/evil.so"},
      {"b x;", "M4 " + pack + app_.path() + "/uploads/evil.so"},
      {"c x;", "M4 " + pack + ".so"},
      {"d x;", "M4 " + pack + "sub/../../../uploads/evil.so"},
      {"e x;", "M4 " + pack + "ok\\0x.so"},
      {"f x;", "ran " + syntax_ + ";f x;"},
  };
  for (const auto& c : cases) EXPECT_EQ(command(c.first), c.second) << c.first;
  // The same through a program.
  const std::string prog = app_.write("prog.txt", ":s:calc.zel;\na x;\n");
  EXPECT_EQ(CallZEL_Executer(app_.path(), prog), "M4 " + pack + "../../uploads/evil.so");
}

// Paths holding a NUL byte, and files that are not regular files, are
// treated as files that cannot be opened; nothing blocks or grows.
TEST_F(BoundaryTest, OnlyRegularFilesWithoutNulAreRead) {
  alarm(30);  // a blocked read ends the test run instead of hanging it
  const std::string fifo = app_.modules() + "fifo.zel";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(command("print x;"), "ran " + syntax_ + ";print x;");
  for (const std::string& syntax : {std::string("/dev/zero"), std::string("/dev/urandom"), fifo}) {
    EXPECT_EQ(CallZEL_Commandes(app_.path(), "print x;", syntax), "M1 " + syntax);
  }
  EXPECT_EQ(CallZEL_Commandes(app_.path(), "print x;", syntax_ + kNul + "junk"),
            "M1 " + syntax_ + "\\0junk");
  const std::string prog = app_.write("prog.txt", ":s:fifo.zel;\nprint x;\n");
  EXPECT_EQ(CallZEL_Executer(app_.path(), prog), "M1 " + fifo);
  EXPECT_EQ(CallZEL_Executer(app_.path(), fifo), "M1 " + fifo);
  EXPECT_EQ(CallZEL_Executer(app_.path(), prog + kNul + "x"), "M1 " + prog + kNul + "x");
  // A module file that is a FIFO.
  fs::remove(app_.modules() + "calc/printer.so");
  ASSERT_EQ(mkfifo((app_.modules() + "calc/printer.so").c_str(), 0600), 0);
  EXPECT_EQ(command("print x;"), "M4 " + app_.modules() + "calc/printer.so");
  // A catalogue that is a FIFO.
  fs::remove(catalogPath());
  ASSERT_EQ(mkfifo(catalogPath().c_str(), 0600), 0);
  EXPECT_EQ(command("other x;"), "(" + app_.syntaxModuleDir() + ") " + catalogFailureText());
  alarm(0);
}

// A refusal message that quotes the statement never makes a module run,
// whatever marker the statement holds.
TEST_F(BoundaryTest, MarkersInUserTextDecideNothing) {
  app_.write("node_modules/zel_linux/lang.conf",
             goReplace(kTestCatalog, ":3:M3 :E1:", ":3::E1: is not a known statement"));
  for (const char* marker : {"(TRUEZEL)", "(MDNF)", "(MDLIB)"}) {
    const std::string statement = std::string("nf ") + marker + "../../uploads/evil;";
    const std::string refusal =
        std::string("nf ") + marker + "../../uploads/evil is not a known statement";
    EXPECT_EQ(command(statement), refusal);
    // "*.*" ends on whatever the last entry of node_modules gives; no module.
    const std::string all = CallZEL_Commandes(app_.path(), statement, "*.*");
    EXPECT_TRUE(all == refusal || all == "M20") << all;
    const std::string prog = app_.write("prog.txt", ":s:calc.zel;\n" + statement + "\n");
    EXPECT_EQ(CallZEL_Executer(app_.path(), prog), refusal);
  }
}

// Modules that run statements through the engine during their own call:
// every object is destroyed once, by its own module, and the host goes on.
TEST_F(BoundaryTest, ModulesMayCallBackIntoTheEngine) {
  const std::string module = app_.installPackModule("calc", "reentrant_module", "again");
  app_.syntaxFile("calc", "reenter (again)\nprint (printer)\n");
  for (int round = 1; round <= 2; ++round) {
    EXPECT_EQ(command("reenter print inner;"), "outer saw [ran " + syntax_ + ";print inner;]");
    EXPECT_EQ(counts(module), "created=" + std::to_string(round) +
                                  " destroyed=" + std::to_string(round) + " foreign=0");
  }
  EXPECT_EQ(command("print after;"), "ran " + syntax_ + ";print after;");
  // A nested call that stores nothing returns its caller's latest result:
  // the acceptance of the statement whose module it runs in.
  EXPECT_EQ(command("reenter ## note;"), "outer saw [(TRUEZEL)again]");
  // One that throws once the nested statement has run is the one named.
  app_.syntaxFile("calc", "rethrow (again)\nprint (printer)\n");
  std::atomic<bool> cancel{false};
  const Outcome threw = recordedCall(cancel, true, [&](Call& call) {
    return executeStatement(call, app_.path(), "rethrow print inner;", syntax_);
  });
  EXPECT_EQ(threw.modulePath, module);
  // A classic call that throws leaves the latest result written: the
  // nested statement's, or the acceptance when nothing ran inside.
  app_.installPackModule("calc", "throwing_module", "boom");
  app_.syntaxFile("calc", "rethrow (again)\nboom (boom)\nprint (printer)\n");
  const std::pair<std::string, std::string> thrown[] = {
      {"rethrow print inner;", "ran " + syntax_ + ";print inner;"}, {"boom now;", "(TRUEZEL)boom"}};
  for (const auto& [statement, left] : thrown) {
    EXPECT_ANY_THROW(CallZEL_Commandes(app_.path(), statement, syntax_));
    EXPECT_EQ(resultat, left) << statement;
  }

  // A syntax module that calls back while it is asked about a form.
  TestApp other;
  const std::string lib = other.installSyntaxModule("reentrant_syntax");
  other.installPackModule("calc", "echo_module", "printer");
  const std::string syntax = other.syntaxFile("calc", "nested (printer)\nprint (printer)\n");
  const std::string statement = "nested " + syntax + ";";
  EXPECT_EQ(CallZEL_Commandes(other.path(), statement, syntax), "ran " + syntax + ";" + statement);
  void* h = dlopen(lib.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  ASSERT_NE(h, nullptr);
  EXPECT_STREQ(reinterpret_cast<const char* (*)()>(dlsym(h, "fixture_nested"))(),
               ("ran " + syntax + ";print inner;").c_str());
  // The outer check and the nested one.
  // The outer check, and the nested statement's checks of both forms.
  EXPECT_EQ(counts(lib), "created=3 destroyed=3 foreign=0");
  EXPECT_EQ(CallZEL_Commandes(other.path(), "print x;", syntax), "ran " + syntax + ";print x;");
  // One that throws is named by the record, and its object is not destroyed.
  other.syntaxFile("calc", "print (printer)\nthrow (printer)\n");
  const Outcome checkThrew = recordedCall(cancel, true, [&](Call& call) {
    return executeStatement(call, other.path(), "throw now;", syntax);
  });
  EXPECT_EQ(checkThrew.modulePath, lib);
  EXPECT_EQ(counts(lib), "created=7 destroyed=6 foreign=0");
}

// A loaded module written over in place is never called again (its mapping
// no longer matches the file); one replaced by rename is loaded afresh. The
// process still ends cleanly.
TEST_F(BoundaryTest, ModuleRebuiltInPlaceIsRefused) {
  const std::string module = app_.modules() + "calc/printer.so";
  const std::string replacement = std::string(ZEL_FIXTURE_DIR) + "/statement_module.so";
  EXPECT_EXIT(
      {
        bool ok = command("print a;") == "ran " + syntax_ + ";print a;";
        {
          std::ifstream from(replacement, std::ios::binary);
          std::ofstream(module, std::ios::binary | std::ios::trunc) << from.rdbuf();
        }
        const std::string refused = command("print b;");
        ok = ok && refused.find(module + " changed on disk after this process loaded it") !=
                       std::string::npos;
        // Again, until the file is replaced by rename.
        ok = ok && command("print c;") == refused;
        fs::copy_file(replacement, module + ".new");
        fs::rename(module + ".new", module);
        ok = ok && command("print d;") == "did print d";
        std::exit(ok ? 3 : 1);
      },
      ::testing::ExitedWithCode(3), "");
}

// A module's memory is its own from the start: what the thread its
// constructor started counts (millions) in the module's static data is all
// kept, and
// its data stays as loaded when its file is written over in place: cut
// short first when the load started no thread (its pages were copied), not
// cut when it did (they were made private where they are).
TEST_F(BoundaryTest, ModuleMemoryIsItsOwn) {
  app_.installPackModule("calc", "counting_module", "counting");
  app_.installPackModule("calc", "table_module", "table");
  app_.syntaxFile("calc", "counting (counting)\ntable (table)\nprint (printer)\n");
  const std::pair<std::string, std::ios::openmode> cases[] = {
      {"counting", std::ios::in | std::ios::out},
      {"table", std::ios::out | std::ios::trunc},
  };
  for (const auto& [name, mode] : cases) {
    EXPECT_EQ(command(name + " x;"), "ran " + syntax_ + ";" + name + " x;");
    const std::string module = app_.modules() + "calc/" + name + ".so";
    void* h = dlopen(module.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    ASSERT_NE(h, nullptr);
    const auto tableSum = reinterpret_cast<uint64_t (*)()>(dlsym(h, "fixture_table_sum"));
    const std::string junk(fs::file_size(module), 'z');
    std::fstream(module, std::ios::binary | mode) << junk;
    EXPECT_EQ(tableSum(), 6u) << name;
  }
  void* h = dlopen((app_.modules() + "calc/counting.so").c_str(), RTLD_LAZY | RTLD_NOLOAD);
  uint64_t kept = 0;
  const uint64_t made =
      reinterpret_cast<uint64_t (*)(uint64_t*)>(dlsym(h, "fixture_stop_counting"))(&kept);
  EXPECT_EQ(kept, made);
}

// A module finds the library beside it ($ORIGIN); that library written
// over in place changes nothing in the process that loaded it, which still
// calls it and ends cleanly.
TEST_F(BoundaryTest, ModuleLibrariesBesideItStayAsLoaded) {
  app_.installPackModule("calc", "origin_module", "helped");
  const std::string helper = app_.install("origin_helper", "node_modules/calc/origin_helper.so");
  app_.syntaxFile("calc", "help (helped)\nprint (printer)\n");
  const std::string replacement = std::string(ZEL_FIXTURE_DIR) + "/statement_module.so";
  EXPECT_EXIT(
      {
        bool ok = command("help a;") == "helper ran " + syntax_ + ";help a;";
        {
          std::ifstream from(replacement, std::ios::binary);
          std::ofstream(helper, std::ios::binary | std::ios::trunc) << from.rdbuf();
        }
        ok = ok && command("help b;") == "helper ran " + syntax_ + ";help b;";
        std::exit(ok ? 3 : 1);
      },
      ::testing::ExitedWithCode(3), "");
}

// A compile output path holding a NUL byte is refused whole: the C library
// would stop at the NUL and write a file the caller never named.
TEST_F(BoundaryTest, CompileOutputPathHoldingNul) {
  const std::string source = app_.write("nul.txt", "a line of thirteen or more bytes\n");
  myAbsolutePathDirApp = app_.path();
  const fs::path previous = fs::current_path();
  fs::current_path(app_.path());  // the request log lands there
  EXPECT_EQ(CallZEL_Compiler(source, ".z" + kNul + "c"), "M11 " + app_.path() + "/nul.z\\0c");
  fs::current_path(previous);
  EXPECT_FALSE(fs::exists(app_.path() + "/nul.z"));
}

}  // namespace
