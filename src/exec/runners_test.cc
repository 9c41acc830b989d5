// Runner tests against a recording syntax search: what statements the
// runners cut from a file, with which line numbers, and what they do with
// the answers.
#include "exec/runners.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "compile/cipher.h"
#include "fakes/recording_syntax_search.h"
#include "support/test_app.h"
#include "base/state.h"
#include "base/text.h"
#include "zel/zel.h"
#include "entries/classic.h"

namespace {

class RunnerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    myAbsolutePathDirApp = app_.path();
    resultat.clear();
    dataToSave.clear();
    myAppFile.clear();
    FirstResponse = "already set";  // results are not held back
    searchCalls.clear();
    searchAnswer = [](const std::string& s) {
      return s.rfind("no", 0) == 0 ? std::string("NO FORM") : std::string("(TRUEZEL)echo");
    };
    app_.installPackModule("demo", "echo_module", "echo");
  }
  std::vector<std::string> statements() const {
    std::vector<std::string> out;
    for (const auto& c : searchCalls) out.push_back(c.statement + " @" + c.lineNumber);
    return out;
  }

  TestApp app_;
  std::string syntax_ = app_.modules() + "demo.zel";
};

using Lines = std::vector<std::string>;

TEST_F(RunnerTest, ScriptStatementsSpanLinesAndCarryTheLastLineNumber) {
  const std::string prog = app_.write("prog.txt",
      ":s:demo.zel;\n\nprint 1\n+ 2;\n## skipped;\nx; y\r\na ==-; b;\nnot ended");
  EXPECT_EQ(goLoadScript(prog, syntax_), "ran " + prog + ";x; y");
  EXPECT_EQ(statements(), (Lines{"print 1+ 2; @4", "x; y @6"}));
  EXPECT_EQ(searchCalls[0].selector, syntax_);
  EXPECT_EQ(dataToSave, "not ended");
  // The next run does not continue the unterminated tail.
  searchCalls.clear();
  goLoadScript(prog, syntax_);
  EXPECT_EQ(statements().front(), "print 1+ 2; @4");
}

// Line endings never reach a statement, wherever they were: a CRLF
// program's lines joined up to a last line that has no line ending.
TEST_F(RunnerTest, JoinedLinesLoseTheirLineEndings) {
  const TextCase cases[] = {
      {"print 1\r\n+ 2;", "print 1+ 2; @2"},
      {"print 1\r\n+ 2;\r\n", "print 1+ 2; @2"},
      {"print\r\n1\r\n+ 2;", "print1+ 2; @3"},
  };
  for (const auto& c : cases) {
    searchCalls.clear();
    goLoadScript(app_.write("prog.txt", c.input), syntax_);
    EXPECT_EQ(statements(), Lines{c.expected}) << c.input;
  }
}

TEST_F(RunnerTest, MarkersReachTheSearchButNotTheModule) {
  const std::string prog = app_.write("prog.txt", "say (ZE)hi(CZEL);\n");
  EXPECT_EQ(goLoadScript(prog, syntax_), "ran " + prog + ";say hi;");
  EXPECT_EQ(statements(), (Lines{"say (ZE)hi(CZEL); @1"}));
}

TEST_F(RunnerTest, CommentsAndShortStatementsNeverRunAModule) {
  // Even when the previous result happens to read like an acceptance.
  resultat = "(TRUEZEL)echo";
  const std::string prog = app_.write("prog.txt", "// a comment;\n;\n' quoted;\n");
  EXPECT_EQ(goLoadScript(prog, syntax_), "(TRUEZEL)echo");
  EXPECT_TRUE(searchCalls.empty());
}

TEST_F(RunnerTest, UnmatchedStatementLeavesTheSearchAnswer) {
  const std::string prog = app_.write("prog.txt", "print a;\nno such form;\n");
  EXPECT_EQ(goLoadScript(prog, syntax_), "NO FORM");
}

TEST_F(RunnerTest, ScriptDeciphersEachLineBeforeJoining) {
  const std::string prog = app_.write("prog.txt",
      compiled("print 1 and more") + "\n" + "+ 2;\n" + compiled("(CZEL)demo.zel header;") + "\n");
  goLoadScript(prog, syntax_);
  // An enciphered line is read back whole, ";" and what follows included.
  EXPECT_EQ(statements(), (Lines{"print 1 and more+ 2; @2", "(CZEL)demo.zel header; @3"}));
}

TEST_F(RunnerTest, CompiledRunnerJoinsThenDeciphersAndCuts) {
  const std::string prog = app_.write("prog.zel",
      compiled(":s:demo.zel; header") + "\n" + compiled("a and b; not run;") + "\n" +
      "-;\n" + "DQ==-;\n" + "## note\n" + compiled("hidden by the note") + "\n" +
      "plain;\n");
  EXPECT_EQ(goLoadZEL(prog, syntax_), "ran " + prog + ";plain;");
  EXPECT_EQ(statements(), (Lines{":s:demo.zel @1", "a and b @2", "plain; @7"}));
}

// A compiled program offers the statements its source offers, on the same
// lines, each cut before its ";": source lines without ";" continue into
// the next statement and skipped source lines are skipped, as the script
// runner treats them. Rows: source lines, the statements the source offers.
TEST_F(RunnerTest, CompiledProgramRunsLikeItsSource) {
  const std::pair<Lines, Lines> cases[] = {
      {{"## a long comment line", "say this statement is", "", "(ZE) ## also skipped",
        ":s:demo.zel, a header-like line", " spread over lines;", "say that is all, folks;"},
       {"say this statement is spread over lines; @6", "say that is all, folks; @7"}},
      {{"## a calc program", "print hello there;", "// a comment line;", "add 1 and 2 and 3",
        " and 4 and 5 and 6;", "add 1 2 and 3 more;"},
       {"print hello there; @2", "add 1 and 2 and 3 and 4 and 5 and 6; @5",
        "add 1 2 and 3 more; @6"}},
  };
  for (const auto& [source, offered] : cases) {
    std::string plain, zel;
    for (const auto& l : source) {
      plain += l + "\n";
      zel += compiled(l) + "\n";
    }
    searchCalls.clear();
    const std::string fromSource = goLoadScript(app_.write("prog.txt", plain), syntax_);
    EXPECT_EQ(statements(), offered);
    Lines cut;
    for (std::string s : offered) cut.push_back(s.erase(s.find("; @"), 1));
    searchCalls.clear();
    const std::string fromCompiled = goLoadZEL(app_.write("prog.zel", zel), syntax_);
    EXPECT_EQ(statements(), cut);
    EXPECT_EQ(fromCompiled + ";", goReplace(fromSource, "prog.txt", "prog.zel"));
  }
}

TEST_F(RunnerTest, FirstResultIsHeldBackByTheScriptRunnerOnly) {
  const std::string prog = app_.write("prog.txt", "one long statement;\n");
  FirstResponse.clear();
  EXPECT_EQ(goLoadScript(prog, syntax_), "");
  EXPECT_EQ(FirstResponse, "ran " + prog + ";one long statement;");
  EXPECT_EQ(goLoadScript(prog, syntax_), "ran " + prog + ";one long statement;");

  FirstResponse.clear();
  const std::string zel = app_.write("prog.zel", compiled("one long statement;") + "\n");
  EXPECT_EQ(goLoadZEL(zel, syntax_), "ran " + zel + ";one long statement");
  EXPECT_EQ(FirstResponse, "ran " + zel + ";one long statement");
}

TEST_F(RunnerTest, ProgramsThatCannotBeOpened) {
  const std::string missing = app_.path() + "/missing.txt";
  EXPECT_EQ(goLoadScript(missing, syntax_), "M1 " + missing);
  EXPECT_EQ(goLoadZEL(app_.path(), syntax_), "M1 " + app_.path());
  EXPECT_EQ(CallZEL_Executer(app_.path(), app_.path()), "M1 " + app_.path());
  EXPECT_TRUE(searchCalls.empty());
}

TEST_F(RunnerTest, BinaryBytesAndHugeLinesRunAsStatements) {
  const std::string binary = std::string("bin\0\x01\xff\xfe", 7) + ";";
  const std::string huge = "print " + std::string(10 << 20, 'x') + ";";
  // A comment marker after a NUL byte still makes the line a comment.
  const std::string comment = std::string("note\0## x;", 10);
  const std::string prog = app_.write("prog.txt", binary + "\n" + comment + "\n" + huge + "\n");
  const std::string result = goLoadScript(prog, syntax_);
  EXPECT_EQ(result.size(), ("ran " + prog + ";").size() + huge.size());
  ASSERT_EQ(searchCalls.size(), 2u);
  EXPECT_EQ(searchCalls[0].statement, binary);
}

// The driver: which header, which runner, which syntax path.
TEST_F(RunnerTest, ExecuterDispatchesThePlainHeaderToTheScriptRunner) {
  const std::string prog = app_.write("prog.txt",
      "## title :s:not this one\nx:s:\tdemo .zel;y\nprint a;\n");
  // The pack of "xdemo .zely" is "xdemo y", which has no modules.
  EXPECT_EQ(CallZEL_Executer(app_.path() + "/", prog),
            "M4 " + app_.path() + "//node_modules/xdemo y/echo.so");
  EXPECT_EQ(myAppFile, app_.path() + "/node_modules/xdemo .zely");
  EXPECT_EQ(statements(), (Lines{"print a; @3"}));
}

TEST_F(RunnerTest, ExecuterDispatchesTheEncipheredHeaderToTheCompiledRunner) {
  const std::string prog = app_.write("prog.zel",
      compiled(":s:demo.zel; header") + "\n" + compiled("print a long one;") + "\n");
  EXPECT_EQ(CallZEL_Executer(app_.path(), prog), "ran " + prog + ";print a long one");
  EXPECT_EQ(myAppFile, syntax_);
  // The compiled runner offers its header like any statement.
  EXPECT_EQ(statements(), (Lines{":s:demo.zel @1", "print a long one @2"}));
}

TEST_F(RunnerTest, EveryExecuterCallRunsItsOwnProgram) {
  const std::string first = app_.write("first.txt", ":s:demo.zel;\nfirst;\n");
  const std::string second = app_.write("second.txt", "(CZEL)other.zel\nsecond;\n");
  EXPECT_EQ(CallZEL_Executer(app_.path(), first), "ran " + first + ";first;");
  EXPECT_EQ(CallZEL_Executer(app_.path(), second), "M4 " + app_.modules() + "other/echo.so");
  EXPECT_EQ(myAppFile, app_.modules() + "other.zel");
  myAppFile = "set by the compiler";
  EXPECT_EQ(CallZEL_Executer(app_.path(), first), "ran " + first + ";first;");
}

TEST_F(RunnerTest, ExecuterWithoutHeaderKeepsThePreviousResult) {
  resultat = "previous";
  EXPECT_EQ(CallZEL_Executer(app_.path(), app_.write("none.txt", "print a;\n")), "previous");
  EXPECT_EQ(CallZEL_Executer(app_.path(), app_.write("empty.txt", "")), "previous");
  EXPECT_TRUE(searchCalls.empty());
}

TEST_F(RunnerTest, OnlyALeadingCGainsAColon) {
  const std::string prog = app_.write("prog.txt", ":s:demo.zel;\n");
  CallZEL_Executer(app_.path() + "/ABC", prog);
  EXPECT_EQ(myAppFile, app_.path() + "/ABC/node_modules/demo.zel");
  CallZEL_Executer("C", prog);
  EXPECT_EQ(myAppFile, "C:/node_modules/demo.zel");
}

}  // namespace

namespace {

// The line buffer is process-wide: a run of long lines must not leave it
// holding the room of a compiled line (twelve times its source) for good.
TEST_F(RunnerTest, LongLinesLeaveNoRoomBehind) {
  // A compiled line of more than 1 MB, then a short statement.
  const std::string statement = "print " + std::string(100000, 'x') + ";";
  const std::string prog = app_.write("prog.zel", compiled(statement) + "\n" +
                                                      compiled("print a short one;") + "\n");
  EXPECT_EQ(goLoadZEL(prog, syntax_), "ran " + prog + ";print a short one");
  EXPECT_EQ(statements().front(), statement.substr(0, statement.size() - 1) + " @1");
  EXPECT_LT(line.capacity(), statement.size());
  const std::string longer = "print " + std::string(1500000, 'x') + ";";
  goLoadScript(app_.write("prog.txt", longer + "\nprint a short one;\n"), syntax_);
  EXPECT_LT(line.capacity(), longer.size());
}

}  // namespace
