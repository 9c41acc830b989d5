#include "modules/module_call.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "support/temp_dir.h"
#include "zel/state.h"

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
  EXPECT_NE(handle, nullptr);
  EXPECT_NE(openZEL, nullptr);
  EXPECT_NE(closeZEL, nullptr);
}

TEST_F(ModuleCallTest, SyntaxModuleGetsTheSyntaxLineFirst) {
  EXPECT_EQ(callLibModule(fixture("echo_syntax"), "print", "print x"),
            "print|print x");
  EXPECT_NE(handleLib, nullptr);
}

TEST_F(ModuleCallTest, MissingFileGivesMessage4AndLoadsNothing) {
  const std::string path = app_.path() + "/node_modules/pack/none.so";
  void* before = handle;
  EXPECT_EQ(callModule(path, "x"), "Missing " + path + " (" + path + ")");
  EXPECT_EQ(handle, before);
  void* beforeLib = handleLib;
  EXPECT_EQ(callLibModule(path, "a", "b"), "Missing " + path + " (" + path + ")");
  EXPECT_EQ(handleLib, beforeLib);
}

TEST_F(ModuleCallTest, NonLoadableFilesGiveTheLoaderText) {
  const std::string text = app_.write("text.so", "not a shared object\n");
  const std::string result = callModule(text, "x");
  EXPECT_NE(result.find(text), std::string::npos) << result;
  EXPECT_EQ(handle, nullptr);

  // Not a regular file (a FIFO would block the loader): a directory counts
  // as a file that cannot be opened, and nothing is loaded.
  const std::string dir = app_.path() + "/dir.so";
  mkdir(dir.c_str(), 0755);
  void* beforeLib = handleLib;
  EXPECT_EQ(callLibModule(dir, "a", "b"), "Missing " + dir + " (" + dir + ")");
  EXPECT_EQ(handleLib, beforeLib);
}

TEST_F(ModuleCallTest, MissingDestroyGivesTheLoaderTextWithoutCreating) {
  const std::string result = callModule(fixture("no_destroy"), "x");
  EXPECT_NE(result.find("destroy"), std::string::npos) << result;
  EXPECT_EQ(moduleCounter("no_destroy", "fixture_created"), 0);
  EXPECT_NE(handle, nullptr);
  EXPECT_NE(openZEL, nullptr);
  EXPECT_EQ(closeZEL, nullptr);
}

TEST_F(ModuleCallTest, ThrowingModulePropagatesWithoutDestroy) {
  EXPECT_THROW(callModule(fixture("throwing_module"), "x"), std::runtime_error);
  EXPECT_EQ(moduleCounter("throwing_module", "fixture_destroyed"), 0);
}

TEST_F(ModuleCallTest, CreateWithoutObjectIsReportedNotCalled) {
  const std::string path = fixture("null_create");
  EXPECT_EQ(callModule(path, "x"), path + ": create() returned no object");
}

}  // namespace
