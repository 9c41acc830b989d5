#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "compile/cipher.h"
#include "support/request_log.h"
#include "support/test_app.h"
#include "zel/state.h"
#include "zel/zel.h"

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Compiles inside a scratch application, which is also the working
// directory, so the request log lands there.
class CompilerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    myAbsolutePathDirApp = app_.path();
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(app_.path());
  }
  void TearDown() override { std::filesystem::current_path(previous_); }
  std::string compile(const std::string& source, const std::string& suffix = ".zel") {
    return CallZEL_Compiler(source, suffix);
  }
  // Nothing but the named files in the application directory.
  bool noTemporaryFiles() const {
    for (const auto& entry : std::filesystem::directory_iterator(app_.path())) {
      if (entry.path().filename().string().rfind(".zel-compile", 0) == 0) return false;
    }
    return true;
  }

  TestApp app_;
  std::filesystem::path previous_;
};

TEST_F(CompilerTest, WritesOneCompiledLinePerSourceLine) {
  const std::string thirteen = "print 1 + 2;\r";  // 13 bytes, CR included
  const std::string source = app_.write("prog.txt", "\n\r\n" + thirteen + "\nlast line, no newline");
  EXPECT_EQ(compile(source), "M10");
  EXPECT_EQ(readFile(app_.path() + "/prog.zel"),
            "-;\nDQ==-;\n" + goEnCryptZEL(goBase64(thirteen)) + "-;\n" +
                goEnCryptZEL(goBase64("last line, no newline")) + "-;\n");
  EXPECT_EQ(myAppFile, source);
  EXPECT_EQ(myDataFile, ".zel");
  EXPECT_EQ(readFile("requests.log"), "M10\n");
  EXPECT_TRUE(noTemporaryFiles());
}

TEST_F(CompilerTest, LongLinesCompileAsAWhole) {
  // Long lines are written piece by piece; the result is the same line.
  std::string line;
  for (int i = 0; line.size() < (3u << 20) + 7; ++i) {
    const char c = static_cast<char>(i * 31 % 251);
    line += c == '\n' ? 'n' : c;  // one line: no line break inside
  }
  const std::string source = app_.write("long.txt", "first line, long enough\n" + line + "\n\n");
  EXPECT_EQ(compile(source), "M10");
  EXPECT_EQ(readFile(app_.path() + "/long.zel"),
            compiled("first line, long enough") + "\n" + compiled(line) + "\n-;\n");
}

TEST_F(CompilerTest, LongAndShortLinesMixInAnyOrder) {
  // Around the length where lines start to be written piece by piece, and
  // lengths that do and do not fill the last Base64 group.
  std::string source;
  std::string expected;
  for (size_t length : {65535u, 65536u, 65537u, 20u, 1u << 20, 300001u, 300002u, 25u}) {
    std::string line;
    for (size_t i = 0; i < length; ++i) line += static_cast<char>('a' + (i * 7 + length) % 26);
    source += line + "\n";
    expected += compiled(line) + "\n";
  }
  EXPECT_EQ(compile(app_.write("mixed.txt", source)), "M10");
  EXPECT_EQ(readFile(app_.path() + "/mixed.zel"), expected);
}

TEST_F(CompilerTest, OutputPathReplacesEveryTxtThenDb) {
  std::filesystem::create_directories(app_.path() + "/a.txt.d");
  std::filesystem::create_directories(app_.path() + "/a.zel.d");
  const std::string line = "a line of thirteen or more bytes\n";
  EXPECT_EQ(compile(app_.write("a.txt.d/prog.txt", line)), "M10");
  EXPECT_TRUE(std::filesystem::exists(app_.path() + "/a.zel.d/prog.zel"));
  EXPECT_EQ(compile(app_.write("data.db", line)), "M10");
  EXPECT_TRUE(std::filesystem::exists(app_.path() + "/data.zel"));
  EXPECT_EQ(compile(app_.write("bare.txt", line), ""), "M10");
  EXPECT_TRUE(std::filesystem::exists(app_.path() + "/bare"));
  EXPECT_EQ(compile("empty.txt", ".zel"), "M4 empty.txt");  // relative to the working directory
  app_.write("empty.txt", "");
  EXPECT_EQ(compile("empty.txt", ".zel"), "M10");
  EXPECT_EQ(readFile(app_.path() + "/empty.zel"), "");
}

TEST_F(CompilerTest, ShortLineFailsAndLeavesNoOutput) {
  const std::string output = app_.write("prog.zel", "old compiled program\n");
  EXPECT_EQ(compile(app_.write("prog.txt", "twelve bytes\n")), "M9");
  EXPECT_FALSE(std::filesystem::exists(output));
  EXPECT_EQ(readFile("requests.log"), "M9\n");
  EXPECT_TRUE(noTemporaryFiles());
  // The next compilation is judged on its own lines.
  EXPECT_EQ(compile(app_.write("prog.txt", "thirteen byte\n")), "M10");
  EXPECT_TRUE(std::filesystem::exists(output));
}

TEST_F(CompilerTest, NeverLosesTheSourceOrAnOldCompiledProgram) {
  // Output path equal to the source: nothing is touched.
  const std::string plain = app_.write("prog.src", "a line of thirteen or more bytes\n");
  EXPECT_EQ(compile(plain), "M11 " + plain);
  EXPECT_EQ(compile(app_.write("prog.txt", "x"), ".txt"), "M11 " + app_.path() + "/prog.txt");
  EXPECT_EQ(readFile(plain), "a line of thirteen or more bytes\n");
  EXPECT_EQ(readFile(app_.path() + "/prog.txt"), "x");

  // Unreadable source: the old output stays exactly as it was, and no
  // output appears where there was none.
  const std::string old = app_.write("gone.zel", "old compiled program\n");
  EXPECT_EQ(compile(app_.path() + "/gone.txt"), "M4 " + app_.path() + "/gone.txt");
  EXPECT_EQ(readFile(old), "old compiled program\n");
  EXPECT_EQ(compile(app_.path() + "/none.txt"), "M4 " + app_.path() + "/none.txt");
  EXPECT_FALSE(std::filesystem::exists(app_.path() + "/none.zel"));
  std::filesystem::create_directories(app_.path() + "/dir.txt");
  EXPECT_EQ(compile(app_.path() + "/dir.txt"), "M4 " + app_.path() + "/dir.txt");

  // An output directory that does not exist: message 11, nothing written.
  EXPECT_EQ(compile(app_.write("prog.txt", "x"), "/missing/out.zel"),
            "M11 " + app_.path() + "/prog/missing/out.zel");

  // A successful compilation replaces the old program whole.
  EXPECT_EQ(compile(app_.write("gone.txt", "a line of thirteen or more bytes")), "M10");
  EXPECT_EQ(readFile(old), goEnCryptZEL(goBase64("a line of thirteen or more bytes")) + "-;\n");
  EXPECT_TRUE(noTemporaryFiles());
}

TEST_F(CompilerTest, CompiledProgramRunsLikeItsSource) {
  app_.installSyntaxModule("keyword_syntax");
  app_.installPackModule("calc", "statement_module", "adder");
  app_.syntaxFile("calc", "add (adder)\n");
  const std::string source = app_.write("prog.txt",
      "## adds numbers, line after line\n(CZEL)calc.zel;\nadd 1 and 2 and 3;\nadd 40 and 2 more;\n");
  FirstResponse = "already set";
  const std::string plain = CallZEL_Executer(app_.path(), source);
  EXPECT_EQ(plain, "did add 40 and 2 more");
  EXPECT_EQ(CallZEL_Compiler(source, ".zel"), "M10");
  EXPECT_EQ(CallZEL_Executer(app_.path(), app_.path() + "/prog.zel"), plain);
}

TEST_F(CompilerTest, RequestLogHoldsTheLatestEntryOnly) {
  EXPECT_EQ(goAddToLog("first\nentry"), "");
  EXPECT_EQ(goAddToLog("second"), "");
  EXPECT_EQ(readFile("requests.log"), "second\n");
  EXPECT_EQ(goAddToLog(""), "");
  EXPECT_EQ(readFile("requests.log"), "\n");
  std::filesystem::remove("requests.log");
  std::filesystem::create_directory("requests.log");
  EXPECT_EQ(goAddToLog("x"), "M35");
}

}  // namespace
