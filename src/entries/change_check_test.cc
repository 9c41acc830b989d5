// When a change on disk is seen: at a call's start, within 100 us of run
// time, after a statement that ran long. Run time is the test's own clock.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "cache/watch.h"
#include "support/engine_test.h"
#include "entries/entries.h"
#include "entries/recorded_call.h"
#include "zel/zel.h"

extern "C" {
// Moved on by the files fixture as it works.
__attribute__((visibility("default"))) int64_t fixture_run_clock_ns = 0;
}

namespace {

int64_t stepNs = 0;  // how far each reading moves the clock on
int64_t testClock() { return fixture_run_clock_ns += stepNs; }

class ChangeCheckTest : public EngineTest {
 protected:
  ChangeCheckTest()
      : EngineTest({{"calc", "echo_module", "ticker"},
                    {"calc", "files_module", "files"},
                    {"calc", "statement_module", "other"}}) {}
  void SetUp() override {
    EngineTest::SetUp();
    stepNs = 0;
    setRunClock(testClock);
  }
  void TearDown() override { setRunClock(nullptr); }

  Outcome run(const std::string& text) {
    std::atomic<bool> cancel{false};
    const std::string program = app_.write("prog.txt", ":s:calc.zel;\n" + text);
    return recordedCall(cancel, false,
                        [&](Call& c) { return executeProgram(c, app_.path(), program); });
  }
  std::string tick(const std::string& statement) {
    return CallZEL_Commandes(app_.path(), statement, syntax_);
  }

  std::string syntax_ = app_.syntaxFile("calc", "tick (ticker)\nshell (files)\nrewrite (files)\n");
};

// The clock stands still. The first call reads every path for the first
// time (no watches), the second call watches them.
TEST_F(ChangeCheckTest, AnEditMadeBeforeACallIsSeenByIt) {
  const std::string first = tick("tick 1;");
  EXPECT_EQ(first, tick("tick 1;"));
  app_.syntaxFile("calc", "tick (other)\n");
  EXPECT_EQ(tick("tick 2;"), "did tick 2");
  app_.syntaxFile("calc", "tick (ticker)\n");
  EXPECT_EQ(tick("tick 1;"), first);
}

// Another process takes "tick" out at line 4, once the pack is cached (read
// twice); each statement takes 1 us.
TEST_F(ChangeCheckTest, AnEditByAnotherProcessDuringARunIsSeenWithin100us) {
  stepNs = 1000;
  std::string ticks;
  for (int i = 0; i < 300; ++i) ticks += "tick " + std::to_string(i) + ";\n";
  const std::string next = app_.write("next.zel", "shell (files)\n");
  const Outcome outcome = run("tick a;\ntick b;\nshell mv " + next + " " + syntax_ + ";\n" + ticks);
  ASSERT_FALSE(outcome.diagnostics.empty()) << "the edit was never seen";
  EXPECT_GT(outcome.diagnostics.front().line, 4);
  EXPECT_LE(outcome.diagnostics.front().line, 4 + 101);
}

// The rewriting statement takes 10 us; the next one uses the new form.
TEST_F(ChangeCheckTest, AModuleRewritingASyntaxFileGetsTheNewFormAtTheNextStatement) {
  const Outcome outcome =
      run("tick 1;\nrewrite " + syntax_ + " fresh (other)|rewrite (files);\nfresh one;\n");
  EXPECT_EQ(outcome.result, "did fresh one");
}

}  // namespace
