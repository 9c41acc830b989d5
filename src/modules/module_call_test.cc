#include "modules/module_call.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>
#include <string>

#include "support/temp_dir.h"
#include "base/state.h"
#include "entries/classic.h"

namespace {

std::string fixture(const std::string& name) {
  return std::string(ZEL_FIXTURE_DIR) + "/" + name + ".so";
}

// Reads an int that a fixture module keeps in its static data. The module is
// already loaded, so dlopen hands back the same object the engine uses.
int moduleCounter(const std::string& module, const char* symbol) {
  void* h = dlopen(fixture(module).c_str(), RTLD_LAZY);
  if (h == nullptr) return -1;
  auto* value = static_cast<int*>(dlsym(h, symbol));
  return value ? *value : -1;
}

class ModuleCallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = myAbsolutePathDirApp;
    myAbsolutePathDirApp = app_.path();
    app_.write("node_modules/zel_linux/lang.conf", ":4:Missing :E1: (:E1:)\n");
  }
  void TearDown() override { myAbsolutePathDirApp = saved_; }

  TempDir app_;
  std::string saved_;
};

TEST_F(ModuleCallTest, StaticDataPersistsWhileEachCallGetsAFreshObject) {
  const std::string path = fixture("counter_module");
  EXPECT_EQ(callModule(path, "prog.zel;print 1"), "call 1: prog.zel;print 1");
  EXPECT_EQ(callModule(path, "x"), "call 2: x");
  EXPECT_EQ(moduleCounter("counter_module", "fixture_created"), 2);
  EXPECT_EQ(moduleCounter("counter_module", "fixture_destroyed"), 2);
}

TEST_F(ModuleCallTest, SyntaxModuleGetsTheSyntaxLineFirst) {
  EXPECT_EQ(callLibModule(fixture("echo_syntax"), "print", "print x"),
            "print|print x");
}

// Modules that cannot be called, through both kinds of call: what the call
// answers, and that no object was created.
TEST_F(ModuleCallTest, ModulesThatCannotBeCalled) {
  const std::string missing = app_.path() + "/node_modules/pack/none.so";
  const std::string text = app_.write("text.so", "not a shared object\n");
  // Not a regular file (a FIFO would block the loader): a directory counts
  // as a file that cannot be opened.
  const std::string dir = app_.path() + "/dir.so";
  mkdir(dir.c_str(), 0755);
  const std::string nullCreate = fixture("null_create");
  const struct {
    std::string path;
    std::string answer;  // the whole answer, or (exact false) a part of it
    bool exact;
    bool entries;  // a match calls it through its entries
  } cases[] = {
      {missing, "Missing " + missing + " (" + missing + ")", true, false},
      {dir, "Missing " + dir + " (" + dir + ")", true, false},
      {text, text, false, false},  // the loader's text names the file
      {fixture("no_destroy"), "destroy", false, false},
      {nullCreate, nullCreate + ": create() returned no object", true, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(syntaxEntries(loadedModule(app_.path(), c.path)).create != nullptr, c.entries)
        << c.path;
    const std::string answers[] = {callModule(c.path, "x"), callLibModule(c.path, "a", "b")};
    for (const std::string& answer : answers) {
      if (c.exact) EXPECT_EQ(answer, c.answer);
      else EXPECT_NE(answer.find(c.answer), std::string::npos) << answer;
    }
  }
  EXPECT_EQ(moduleCounter("no_destroy", "fixture_created"), 0);
}

TEST_F(ModuleCallTest, ThrowingModulePropagatesWithoutDestroy) {
  const std::string thrower = fixture("throwing_module");
  EXPECT_THROW(callModule(thrower, "x"), std::runtime_error);
  // The answer it was to be built in place of is left empty, not half gone.
  std::string answer(40, 'a');
  EXPECT_THROW(callPackModule(loadedModule(app_.path(), thrower), thrower, "x", answer),
               std::runtime_error);
  EXPECT_EQ(answer, "");
  EXPECT_EQ(moduleCounter("throwing_module", "fixture_destroyed"), 0);
}

// A match's call through a module's entries: the answer is built in place
// of the one before (emptied when the module throws), and the module named
// as running is put back to what the caller found.
TEST_F(ModuleCallTest, CheckInPlaceReplacesTheAnswerAndPutsTheMarkBack) {
  const std::string nesting = fixture("reentrant_syntax"), nullCreate = fixture("null_create");
  const struct {
    std::string path, pattern, statement, answer;
    bool throws;
  } cases[] = {
      {nesting, "print", "print x", "print x", false},
      {nesting, "other", "print x", "", false},
      {nesting, "throw", "throw now", "", true},
      {nullCreate, "print", "print x", nullCreate + ": create() returned no object", false},
  };
  const char* const outer = "the outer module";
  for (const auto& c : cases) {
    const SyntaxEntries entries = syntaxEntries(loadedModule(app_.path(), c.path));
    std::string answer(40, 'a');  // an earlier answer, long enough to own memory
    moduleInCall = outer;
    const auto call = [&] { checkInPlace(entries, c.path, outer, c.pattern, c.statement, answer); };
    if (c.throws) {
      EXPECT_THROW(call(), std::runtime_error);
    } else {
      call();
    }
    EXPECT_EQ(answer, c.answer) << c.pattern;
    EXPECT_EQ(moduleInCall.load(), outer) << c.pattern;
  }
  moduleInCall = nullptr;
}

// A module written over in place with the same bytes, within the same
// second: only the nanoseconds of its modification time tell, and the
// engine must not call the copy it mapped before.
TEST_F(ModuleCallTest, RewriteWithinTheSameSecondIsNoticed) {
  std::ifstream in(fixture("echo_module"), std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), {});
  const std::string module = app_.write("m.so", bytes);
  const auto stampModified = [&](long nanoseconds) {
    const timespec times[2] = {{0, UTIME_OMIT}, {1700000000, nanoseconds}};
    ASSERT_EQ(utimensat(AT_FDCWD, module.c_str(), times, 0), 0);
  };
  stampModified(100);
  EXPECT_EQ(callModule(module, "x"), "ran x");
  std::fstream(module, std::ios::in | std::ios::out | std::ios::binary).write(bytes.data(), bytes.size());
  stampModified(200);
  EXPECT_NE(callModule(module, "x").find("changed on disk"), std::string::npos);
}

}  // namespace
