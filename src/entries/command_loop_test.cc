// The standard input command loop, run in a child process whose standard
// input is a pipe.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/test_app.h"

namespace {

struct LoopRun {
  std::string output;
  int status;
};

// Pipes `input` into the driver and collects what it prints.
LoopRun runLoop(const std::string& app, const std::string& syntax, const std::string& input,
            const TempDir& scratch) {
  const std::string inputFile = scratch.write("stdin.txt", input);
  const std::string command = "cat '" + inputFile + "' | '" + ZEL_CMD_DRIVER + "' '" + app +
                              "' '" + syntax + "'";
  LoopRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return {"popen failed", -1};
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
  run.status = pclose(pipe);
  return run;
}

class CommandLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app_.installSyntaxModule("keyword_syntax");
    app_.installPackModule("calc", "echo_module", "printer");
    app_.installPackModule("calc", "stop_module", "halt");
    app_.installPackModule("other", "echo_module", "printer");
    app_.syntaxFile("calc", "print (printer)\nstop (halt)\n");
    app_.syntaxFile("other", "print (printer)\n");
  }
  LoopRun run(const std::string& input) { return runLoop(app_.path(), syntax_, input, app_); }

  TestApp app_;
  std::string syntax_ = app_.modules() + "calc.zel";
};

TEST_F(CommandLoopTest, WordsFormStatementsUpToASemicolonWord) {
  const LoopRun r = run("print   hello\n ;\nprint x a;b\nprint tail");
  EXPECT_EQ(r.output, "returned=[print tail ]\nresultat=[ran " + syntax_ +
                          ";print x a;b]\nfirst=[ran " + syntax_ + ";print hello;]\n");
  EXPECT_EQ(r.status, 0);
}

TEST_F(CommandLoopTest, DeclarationsChangeTheSyntaxFile) {
  const std::string other = app_.modules() + "other.zel";
  const LoopRun r = run("print first;\n:s:other.zel;\nprint (ZE)second;\n");
  EXPECT_EQ(r.output, "returned=[]\nresultat=[ran " + other + ";print second;]\nfirst=[ran " +
                          syntax_ + ";print first;]\n");
  // "(CURL)" declares too, and is not left in the path; a path with a
  // separator is taken as it is.
  const LoopRun curl = run("(CURL)other.zel ;\nprint one;\n:s:" + other + ";\nprint two;\n");
  EXPECT_EQ(curl.output, "returned=[]\nresultat=[ran " + other + ";print two;]\nfirst=[ran " +
                             other + ";print one;]\n");
}

// With "*.*" each statement runs the module of the pack that accepted it.
TEST_F(CommandLoopTest, AllPacksRunTheModuleOfTheAcceptingPack) {
  app_.installPackModule("other", "statement_module", "solo");
  app_.syntaxFile("other", "print (printer)\nonly (solo)\n");
  const LoopRun r = runLoop(app_.path(), "*.*", "print first;\nonly second;\n", app_);
  EXPECT_EQ(r.output, "returned=[]\nresultat=[did only second]\nfirst=[ran *.*;print first;]\n");
}

TEST_F(CommandLoopTest, UnmatchedStatementsStoreTheAnswer) {
  const LoopRun r = run("print first;\nnm x;\n");
  EXPECT_EQ(r.output, "returned=[]\nresultat=[try another form]\nfirst=[ran " + syntax_ +
                          ";print first;]\n");
}

TEST_F(CommandLoopTest, StopAnswerEndsTheProcessWithStatusZero) {
  const LoopRun r = run("stop now;\nprint after;\n");
  EXPECT_EQ(r.output, "");
  EXPECT_EQ(r.status, 0);
}

}  // namespace
