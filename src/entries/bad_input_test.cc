// Bad input of every kind the engine reads: each gets a clear result, and
// nothing that was there before is lost.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "compile/cipher.h"
#include "modules/module_call.h"
#include "lang/lang.h"
#include "support/test_app.h"
#include "base/state.h"
#include "zel/zel.h"
#include "entries/classic.h"

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs `check` in a child process without the rights of root, where file
// modes hold; the child exits with 3 when `check` returns true.
#define EXPECT_AS_UNPRIVILEGED(check)                                   \
  EXPECT_EXIT(                                                          \
      {                                                                 \
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) \
          std::exit(2);                                                 \
        std::exit((check) ? 3 : 1);                                     \
      },                                                                \
      ::testing::ExitedWithCode(3), "")

class BadInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    resultat.clear();
    FirstResponse = "already set";
    myAbsolutePathDirApp = app_.path();
    chmod(app_.path().c_str(), 0755);  // reachable by the unprivileged child
    app_.installSyntaxModule("keyword_syntax");
    app_.installPackModule("calc", "echo_module", "printer");
  }
  std::string run(const std::string& name, const std::string& content) {
    return CallZEL_Executer(app_.path(), app_.write(name, content));
  }
  std::string ran(const std::string& program, const std::string& statement) const {
    return "ran " + app_.path() + "/" + program + ";" + statement;
  }
  std::string noForm() const { return "(" + app_.syntaxModuleDir() + ") M19"; }

  TestApp app_;
  std::string syntax_ = app_.syntaxFile("calc", "print (printer)\n");
};

TEST_F(BadInputTest, ProgramFilesThatCannotBeRun) {
  resultat = "before";
  EXPECT_EQ(run("empty.txt", ""), "before");
  EXPECT_EQ(CallZEL_Executer(app_.path(), app_.path()), "M1 " + app_.path());
  const std::string locked = app_.write("locked.txt", ":s:calc.zel;\nprint x;\n");
  chmod(locked.c_str(), 0);
  EXPECT_AS_UNPRIVILEGED(CallZEL_Executer(app_.path(), locked) == "M1 " + locked);
}

TEST_F(BadInputTest, BinaryBytesInvalidUtf8AndNulBytesPassThrough) {
  const std::string statement = std::string("print \xff\xfe\xc3( \0\x01\x7f end;", 19);
  EXPECT_EQ(run("binary.txt", ":s:calc.zel;\n" + statement + "\n"), ran("binary.txt", statement));
  std::string noise;
  for (int i = 0; i < 4096; ++i) noise += static_cast<char>((i * 7919) & 0xFF);
  // Arbitrary bytes without a form: the last unmatched statement's answer.
  const std::string result = run("noise.txt", ":s:calc.zel;\n" + noise + ";\n");
  EXPECT_FALSE(result.empty());
}

TEST_F(BadInputTest, HugeLinesAndManyLines) {
  const std::string huge = "print " + std::string(50 << 20, 'x') + ";";
  EXPECT_EQ(run("huge.txt", ":s:calc.zel;\n" + huge + "\n").size(),
            ran("huge.txt", huge).size());
  std::string many = ":s:calc.zel;\n";
  many.reserve(10'000'000);
  for (int i = 0; i < 1'000'000; ++i) many += "// note;\n";
  EXPECT_EQ(run("many.txt", many + "print last;\n"), ran("many.txt", "print last;"));
}

TEST_F(BadInputTest, DamagedCompiledPrograms) {
  const std::string source = app_.write("prog.txt",
      ":s:calc.zel; header\nprint the first statement;\nprint the second statement;\n");
  ASSERT_EQ(CallZEL_Compiler(source, ".zel"), "M10");
  const std::string compiled = readFile(app_.path() + "/prog.zel");
  const size_t lastLine = compiled.rfind('\n', compiled.size() - 2) + 1;

  // Cut in the middle of the last line: that statement never completes.
  const std::string cut = compiled.substr(0, lastLine + (compiled.size() - lastLine) / 2);
  EXPECT_EQ(run("cut.zel", cut), ran("cut.zel", "print the first statement"));

  // A flipped byte garbles one statement; the others still run.
  std::string flipped = compiled;
  flipped[lastLine + 40] = flipped[lastLine + 40] == '0' ? '1' : '0';
  resultat.clear();
  const std::string result = run("flipped.zel", flipped);
  EXPECT_NE(result, ran("flipped.zel", "print the second statement"));
  EXPECT_FALSE(result.empty());
}

TEST_F(BadInputTest, Catalogues) {
  app_.write("node_modules/zel_linux/lang.conf", "");
  EXPECT_EQ(goResponseLANG("1"), "");
  EXPECT_EQ(CallZEL_Commandes(app_.path(), "other x;", syntax_), "(" + app_.syntaxModuleDir() + ") ");
  app_.write("node_modules/zel_linux/lang.conf", ":19:No form.\r\n:1:M1 :E1:\r\n");
  EXPECT_EQ(CallZEL_Commandes(app_.path(), "other x;", syntax_),
            "(" + app_.syntaxModuleDir() + ") No form.");
}

TEST_F(BadInputTest, SyntaxFiles) {
  const std::string comments = app_.syntaxFile("comments", "## a\n// b\n<-- c\n");
  EXPECT_EQ(CallZEL_Commandes(app_.path(), "print x;", comments), "M18 print x;");
  // A form longer than a megabyte is offered like any other.
  const std::string longForm = "print " + std::string(2 << 20, 'p') + " (printer)\n";
  const std::string big = app_.syntaxFile("big", "## big\n" + longForm);
  EXPECT_EQ(CallZEL_Commandes(app_.path(), "print x;", big), "M4 " + app_.modules() + "big/printer.so");
  // Unbalanced parentheses: the text after the last "(" is the module.
  const std::string odd = app_.syntaxFile("odd", "print (printer\nprint printer)\n((((\n");
  EXPECT_EQ(CallZEL_Commandes(app_.path(), "print x;", odd), "M4 " + app_.modules() + "odd/printer.so");
  EXPECT_EQ(CallZEL_Commandes(app_.path(), "other x;", odd), noForm());
}

TEST_F(BadInputTest, ModuleFiles) {
  const std::string text = app_.write("node_modules/calc/text.so", "just text\n");
  EXPECT_NE(callModule(text, "x").find(text), std::string::npos);
  std::filesystem::create_directories(app_.modules() + "calc/dir.so");
  EXPECT_NE(callModule(app_.modules() + "calc/dir.so", "x").find("dir.so"), std::string::npos);
  const std::string noCreate = app_.installPackModule("calc", "no_create", "nocreate");
  EXPECT_NE(callModule(noCreate, "x").find("create"), std::string::npos);
}

TEST_F(BadInputTest, CompilationsThatCannotSucceedLoseNothing) {
  std::filesystem::create_directories(app_.path() + "/dir.txt");
  EXPECT_EQ(CallZEL_Compiler(app_.path() + "/dir.txt", ".zel"), "M4 " + app_.path() + "/dir.txt");
  // An output directory without write permission: the old compiled program
  // survives and message 11 names the output.
  const std::string out = app_.path() + "/out";
  std::filesystem::create_directories(out);
  const std::string source = app_.write("out/prog.txt", "print a long enough statement;\n");
  const std::string old = app_.write("out/prog.zel", "old compiled program\n");
  chmod(out.c_str(), 0555);
  EXPECT_AS_UNPRIVILEGED(CallZEL_Compiler(source, ".zel") == "M11 " + old &&
                         readFile(old) == "old compiled program\n");
}

}  // namespace
