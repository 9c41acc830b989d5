// The fixture the engine's end-to-end tests share: a scratch application
// whose syntax module is keyword_syntax, the engine's results emptied, and
// FirstResponse set, so that no first result is held back.
#ifndef ZEL_TEST_SUPPORT_ENGINE_TEST_H_
#define ZEL_TEST_SUPPORT_ENGINE_TEST_H_

#include <gtest/gtest.h>

#include "support/test_app.h"
#include "base/state.h"

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    resultat.clear();
    FirstResponse = "already set";
    app_.installSyntaxModule("keyword_syntax");
  }

  TestApp app_;
};

#endif  // ZEL_TEST_SUPPORT_ENGINE_TEST_H_
