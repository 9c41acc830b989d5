// When the engine sees a change on disk: at a call's start, within 100 us
// of run time during a run, and at the statement after one that ran long
// (a module that wrote a file). Run time comes from a clock the test sets.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "cache/watch.h"
#include "support/engine_test.h"
#include "zel/entries.h"
#include "zel/outcome.h"
#include "zel/zel.h"

// The test's run clock, which the files fixture moves on as it works.
extern "C" {
__attribute__((visibility("default"))) int64_t fixture_run_clock_ns = 0;
}

namespace {

int64_t stepNs = 0;  // how far each reading moves the clock on

int64_t testClock() { return fixture_run_clock_ns += stepNs; }

// An application with a "calc" pack: "tick" runs the echoing module,
// "files" the module that changes files, "fresh" the one that answers
// "did <statement>".
class ChangeCheckTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    app_.installPackModule("calc", "echo_module", "ticker");
    app_.installPackModule("calc", "files_module", "files");
    app_.installPackModule("calc", "statement_module", "other");
    stepNs = 0;
    setRunClock(testClock);
  }
  void TearDown() override { setRunClock(nullptr); }

  Outcome run(const std::string& program) {
    std::atomic<bool> cancel{false};
    return runCall(cancel, false, [&](Call& c) { return executeProgram(c, app_.path(), program); });
  }

  std::string syntax_ = app_.syntaxFile("calc", "tick (ticker)\nshell (files)\nrewrite (files)\n");
};

// The clock stands still: only the call's start can make the check.
TEST_F(ChangeCheckTest, AnEditMadeBeforeACallIsSeenByIt) {
  EXPECT_EQ(CallZEL_Commandes(app_.path(), "tick 1;", syntax_), "ran " + syntax_ + ";tick 1;");
  app_.syntaxFile("calc", "tick (other)\n");
  EXPECT_EQ(CallZEL_Commandes(app_.path(), "tick 2;", syntax_), "did tick 2");
}

// Another process takes "tick" out of the pack at line 2; every statement
// takes 1 us, and none runs long: the change is seen within 100 of them.
TEST_F(ChangeCheckTest, AnEditByAnotherProcessDuringARunIsSeenWithin100us) {
  stepNs = 1000;
  const std::string next = app_.write("next.zel", "shell (files)\n");
  std::string program = ":s:calc.zel;\nshell mv " + next + " " + syntax_ + ";\n";
  for (int i = 0; i < 300; ++i) program += "tick " + std::to_string(i) + ";\n";
  const Outcome outcome = run(app_.write("prog.txt", program));
  ASSERT_FALSE(outcome.diagnostics.empty()) << "the edit was never seen";
  EXPECT_GT(outcome.diagnostics.front().line, 2);
  EXPECT_LE(outcome.diagnostics.front().line, 2 + 101);
}

// The clock moves only by the 10 us the rewriting statement takes: the
// statement right after it uses the form it wrote.
TEST_F(ChangeCheckTest, AModuleRewritingASyntaxFileGetsTheNewFormAtTheNextStatement) {
  const std::string program = app_.write("prog.txt",
      ":s:calc.zel;\ntick 1;\nrewrite " + syntax_ + " fresh (other)|rewrite (files);\nfresh one;\n");
  const Outcome outcome = run(program);
  EXPECT_EQ(outcome.result, "did fresh one");
  EXPECT_FALSE(outcome.failed);
}

// Every path of a new application is read for the first time by its first
// call, which sets no watches: its answers are the second call's, and what
// it read is read afresh, so an edit made after it is still seen.
TEST_F(ChangeCheckTest, TheFirstCallAnswersAsTheSecondAndStaysFresh) {
  for (const char* statement : {"tick 1;", "nm x;", "lex x;", "none x;"}) {
    TestApp fresh;
    fresh.installSyntaxModule("keyword_syntax");
    fresh.installPackModule("calc", "echo_module", "ticker");
    const std::string syntax = fresh.syntaxFile("calc", "tick (ticker)\n");
    const std::string first = CallZEL_Commandes(fresh.path(), statement, syntax);
    EXPECT_EQ(first, CallZEL_Commandes(fresh.path(), statement, syntax)) << statement;
  }
  EXPECT_EQ(CallZEL_Commandes(app_.path(), "tick 1;", syntax_), "ran " + syntax_ + ";tick 1;");
  app_.syntaxFile("calc", "tick (other)\n");
  EXPECT_EQ(CallZEL_Commandes(app_.path(), "tick 2;", syntax_), "did tick 2");
  app_.syntaxFile("calc", "tick (ticker)\n");
  EXPECT_EQ(CallZEL_Commandes(app_.path(), "tick 3;", syntax_), "ran " + syntax_ + ";tick 3;");
}

}  // namespace
