// The engine entries end to end: real syntax modules, packs and modules.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <tuple>

#include "compile/cipher.h"
#include "exec/statement.h"
#include "lang/lang.h"
#include "support/engine_test.h"
#include "entries/entries.h"
#include "entries/recorded_call.h"
#include "call/call.h"
#include "base/state.h"
#include "zel/zel.h"
#include "entries/classic.h"

namespace {

// An application with a "calc" pack: "add" and "print" forms, each run by
// the echoing module, and "stop", run by the module that answers the stop
// text.
class EntriesTest : public EngineTest {
 protected:
  EntriesTest()
      : EngineTest({{"calc", "echo_module", "adder"},
                    {"calc", "echo_module", "printer"},
                    {"calc", "stop_module", "halt"}}) {}

  std::string syntax_ = app_.syntaxFile("calc", "## calc\nadd (adder)\nprint (printer)\nstop (halt)\n");
};

TEST_F(EntriesTest, PlainProgramRunsEachStatementThroughItsModule) {
  const std::string prog = app_.write("prog.txt",
      "## a calc program\n:s:calc.zel;\nprint hello;\n// a comment;\nadd 1\n 2;\n");
  EXPECT_EQ(CallZEL_Executer(app_.path(), prog), "ran " + prog + ";add 1 2;");
  // Forms are tried in file order; comments ask no module.
  EXPECT_EQ(app_.keywordCalls(), "add|print hello\nprint|print hello\nadd|add 1 2\n");
}

TEST_F(EntriesTest, CommandesRunsOneStatement) {
  EXPECT_EQ(CallZEL_Commandes(app_.path(), "print hi;", syntax_), "ran " + syntax_ + ";print hi;");
  EXPECT_EQ(myAbsolutePathDirApp, app_.path());
  EXPECT_EQ(CallZEL_Commandes(app_.path(), "nm x;", syntax_), "try another form");
  EXPECT_EQ(CallZEL_Commandes(app_.path(), "other x;", syntax_),
            "(" + app_.syntaxModuleDir() + ") M19");
}

// "*.*" runs the module of the pack whose syntax file accepted the
// statement; the module input still begins with "*.*;".
TEST_F(EntriesTest, AllPacksRunTheModuleOfTheAcceptingPack) {
  app_.installPackModule("other", "statement_module", "solo");
  app_.syntaxFile("other", "only (solo)\n");
  EXPECT_EQ(CallZEL_Commandes(app_.path(), "print hi;", "*.*"), "ran *.*;print hi;");
  EXPECT_EQ(CallZEL_Commandes(app_.path(), "only x;", "*.*"), "did only x");
}

TEST_F(EntriesTest, CommandesNeverRunsAModuleForAComment) {
  // Even when the previous result reads like an acceptance: the comment's
  // syntax answer is that result, and it stays the result.
  for (const std::string comment : {"// a comment;", "## note;", "<- back;", "' quoted;", ";"}) {
    resultat = "(TRUEZEL)printer";
    EXPECT_EQ(CallZEL_Commandes(app_.path(), comment, syntax_), "(TRUEZEL)printer") << comment;
  }
  EXPECT_EQ(app_.keywordCalls(), "");
}

TEST(PackName, IsTheLastComponentWithoutSuffixes) {
  EXPECT_EQ(packName("a/b/demo.zel"), "demo");
  EXPECT_EQ(packName("demo.txt"), "demo");
  EXPECT_EQ(packName("x.ttf"), "xf");
  EXPECT_EQ(packName("*.*"), "*.*");
}

TEST_F(EntriesTest, EmptyPacksAndModuleDirectories) {
  const std::string empty = app_.syntaxFile("empty", "");
  EXPECT_EQ(CallZEL_Commandes(app_.path(), "print hi;", empty), "M18 print hi;");
  std::filesystem::remove(app_.syntaxModuleDir() + "keyword_syntax.so");
  EXPECT_EQ(CallZEL_Commandes(app_.path(), "print hi;", syntax_),
            "(" + app_.syntaxModuleDir() + ") M19");
}

// Only a real stop answer ends the process, with status 0: each row runs
// in a child process, which exits with 3 when the call returns `result`
// instead, so this process is never ended. (Commandes stopping is in the
// JavaScript table of the classic stop.) Rows: the catalogue's text (null:
// none), the call, what it returns when it does not stop, the exit status.
TEST_F(EntriesTest, OnlyARealStopAnswerEndsTheProcess) {
  const std::string prog = app_.write("prog.txt", ":s:calc.zel;\nstop now;\nprint after;\n");
  const std::string empty = app_.syntaxFile("empty", "");
  const std::string catalogue = app_.modules() + "zel_linux/lang.conf";
  const std::string stops = kTestCatalog;
  struct Case {
    const std::string* catalogue;
    std::function<std::string()> call;
    std::string result;
    int status;
  };
  // Without message 21 an empty result, and without a catalogue its
  // failure text, must not stop.
  const std::string noStop = ":12:M12\n";
  const Case cases[] = {
      {&stops, [&] { return CallZEL_Executer(app_.path(), prog); }, "", 0},
      {&noStop, [&] { return CallZEL_Commandes(app_.path(), "print hi;", empty); }, "", 3},
      {nullptr, [&] { return CallZEL_Commandes(app_.path(), "x;", app_.modules() + "none.zel"); },
       catalogFailureText(catalogue), 3},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(catalogue);
    if (c.catalogue != nullptr) app_.write("node_modules/zel_linux/lang.conf", *c.catalogue);
    EXPECT_EXIT(std::exit(c.call() == c.result ? 3 : 1), ::testing::ExitedWithCode(c.status), "");
  }
}

// Runs in a fresh process: the first module result of a process is held
// back by the script runner, later ones are returned.
TEST(FreshProcess, FirstModuleResultIsHeldBack) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  TestApp app;
  app.installSyntaxModule("keyword_syntax");
  app.installPackModule("calc", "echo_module", "printer");
  app.syntaxFile("calc", "print (printer)\n");
  const std::string prog = app.write("prog.txt", ":s:calc.zel;\nprint once;\n");
  const std::string expected = "ran " + prog + ";print once;";
  EXPECT_EXIT(
      {
        const bool fresh = resultat.empty() && FirstResponse.empty() && myAppFile.empty();
        const std::string first = CallZEL_Executer(app.path(), prog);
        const std::string second = CallZEL_Executer(app.path(), prog);
        std::exit(fresh && first.empty() && second == expected ? 3 : 1);
      },
      ::testing::ExitedWithCode(3), "");
}

// Under recordedCall a stop answer or a cancel request ends the run (not the
// process), and the record tells how the result came about.
TEST_F(EntriesTest, RunCallRecordsHowEachRunEnded) {
  const std::string prog = app_.write("prog.txt",
      ":s:calc.zel;\nprint one;\n\nstop now;\nprint never;\n");
  const std::string missing = app_.path() + "/missing.txt";
  std::atomic<bool> cancel{false};
  const auto run = [&](const std::string& program) {
    return recordedCall(cancel, false,
                        [&](Call& c) { return executeProgram(c, app_.path(), program); });
  };
  const Outcome stopped = run(prog);
  EXPECT_EQ(stopped.result, "M12");
  EXPECT_EQ(std::make_tuple(stopped.message, stopped.line, stopped.stopped, stopped.cancelled),
            std::make_tuple(12, 4, true, false));
  EXPECT_EQ(app_.keywordCalls().find("print never"), std::string::npos);

  const Outcome opened = run(missing);
  EXPECT_EQ(std::make_tuple(opened.message, opened.line, opened.failed, opened.stopped),
            std::make_tuple(1, 0, true, false));

  // Cancelled before the run starts: no statement reaches a syntax module.
  const std::string callsBefore = app_.keywordCalls();
  cancel = true;
  const Outcome cancelled = run(prog);
  EXPECT_TRUE(cancelled.cancelled);
  EXPECT_EQ(app_.keywordCalls(), callsBefore);
}

// An isolated call works on values of its own: the classic state a classic
// call left is there, as it was, when it ends.
TEST_F(EntriesTest, IsolatedRunCallLeavesTheClassicStateAsItWas) {
  const std::string prog = app_.write("prog.txt", ":s:calc.zel;\nprint one;\nnot ended");
  resultat = "classic result";
  dataToSave = "classic pending";
  std::atomic<bool> cancel{false};
  const Outcome outcome = recordedCall(cancel, true, [&](Call& c) {
    return executeProgram(c, app_.path(), prog);
  });
  EXPECT_EQ(outcome.result, "ran " + prog + ";print one;");
  EXPECT_EQ(std::make_tuple(resultat, dataToSave),
            std::make_tuple("classic result", "classic pending"));
  // A classic run leaves its own.
  const std::string classic = CallZEL_Executer(app_.path(), prog);
  EXPECT_EQ(std::make_tuple(resultat, dataToSave), std::make_tuple(classic, "not ended"));
}

}  // namespace
