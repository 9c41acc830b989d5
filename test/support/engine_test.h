// The fixture the engine's end-to-end tests share: a scratch application
// whose syntax module is keyword_syntax, the engine's results emptied, and
// FirstResponse set, so that no first result is held back. A fixture names
// the pack modules it installs as a table: {pack, fixture module, name}.
#ifndef ZEL_TEST_SUPPORT_ENGINE_TEST_H_
#define ZEL_TEST_SUPPORT_ENGINE_TEST_H_

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_app.h"
#include "base/state.h"

struct PackModule {
  std::string pack, fixture, name;
};

class EngineTest : public ::testing::Test {
 protected:
  explicit EngineTest(std::vector<PackModule> modules = {}) : modules_(std::move(modules)) {}

  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    resultat.clear();
    FirstResponse = "already set";
    app_.installSyntaxModule("keyword_syntax");
    for (const PackModule& m : modules_) app_.installPackModule(m.pack, m.fixture, m.name);
  }

  TestApp app_;

 private:
  std::vector<PackModule> modules_;
};

#endif  // ZEL_TEST_SUPPORT_ENGINE_TEST_H_
