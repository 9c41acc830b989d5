#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "compile/cipher.h"
#include "compile/request_log.h"
#include "support/test_app.h"
#include "entries/entries.h"
#include "entries/recorded_call.h"
#include "call/call.h"
#include "base/state.h"
#include "zel/zel.h"

// Every umask() call of this test program is counted: the compiler must
// read the mask without setting it.
static std::atomic<int> umaskCalls{0};
extern "C" mode_t umask(mode_t mask) {
  ++umaskCalls;
  return static_cast<mode_t>(syscall(SYS_umask, mask));
}

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
  std::atomic<bool> cancel{false};
  const Outcome compiled = recordedCall(cancel, false, [&](Call& call) {
    call.setApp(app_.path());
    return compileScript(call, source, ".zel");
  });
  EXPECT_EQ(compiled.result, "M10");
  EXPECT_EQ(compiled.output, app_.path() + "/prog.zel");
  EXPECT_TRUE(compiled.logged);
  EXPECT_EQ(readFile(compiled.output),
            "-;\nDQ==-;\n" + goEnCryptZEL(goBase64(thirteen)) + "-;\n" +
                goEnCryptZEL(goBase64("last line, no newline")) + "-;\n");
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

  // A source that is a link to its own output, by name or by inode.
  const std::string target = app_.write("linked.zel", "a line of thirteen or more bytes\n");
  std::filesystem::create_symlink(target, app_.path() + "/linked.txt");
  EXPECT_EQ(compile(app_.path() + "/linked.txt"), "M11 " + target);
  app_.write("hard.zel", "a line of thirteen or more bytes\n");
  std::filesystem::create_hard_link(app_.path() + "/hard.zel", app_.path() + "/hard.txt");
  EXPECT_EQ(compile(app_.path() + "/hard.txt"), "M11 " + app_.path() + "/hard.zel");
  EXPECT_EQ(readFile(target), "a line of thirteen or more bytes\n");
  EXPECT_EQ(readFile(app_.path() + "/hard.zel"), "a line of thirteen or more bytes\n");

  // An output directory that does not exist: message 11, nothing written.
  EXPECT_EQ(compile(app_.write("prog.txt", "x"), "/missing/out.zel"),
            "M11 " + app_.path() + "/prog/missing/out.zel");

  // A successful compilation replaces the old program whole.
  EXPECT_EQ(compile(app_.write("gone.txt", "a line of thirteen or more bytes")), "M10");
  EXPECT_EQ(readFile(old), goEnCryptZEL(goBase64("a line of thirteen or more bytes")) + "-;\n");
  EXPECT_TRUE(noTemporaryFiles());
}

TEST_F(CompilerTest, OnlyMessages4And11NameAPath) {
  // Catalogues are stored files: ":E1:" in messages 9 and 10 is shown as
  // written. A directory at the output path is never written nor removed.
  app_.write("node_modules/zel_linux/lang.conf",
             ":4:M4 :E1:\n:9:M9 :E1:\n:10:M10 :E1:\n:11:M11 :E1:\n");
  const std::string good = "a line of thirteen or more bytes\n";
  const std::string tooShort = good + "twelve bytes\n";
  const std::string at = app_.path() + "/";
  constexpr int kNoDirectory = -1;
  struct Case {
    std::string source, content;  // no content: no source file
    int outputDirEntries;         // a directory at the output path, with 0 or 1 entries
    std::string expected;
  };
  const Case cases[] = {
      {"missing.txt", "", kNoDirectory, "M4 " + at + "missing.txt"},
      {"short.txt", tooShort, kNoDirectory, "M9 :E1:"},
      {"good.txt", good, kNoDirectory, "M10 :E1:"},
      {"self", good, kNoDirectory, "M11 " + at + "self"},
      {"dir1.txt", good, 0, "M11 " + at + "dir1.zel"},
      {"dir2.txt", good, 1, "M11 " + at + "dir2.zel"},
      {"dir3.txt", tooShort, 0, "M11 " + at + "dir3.zel"},
      {"dir4.txt", tooShort, 1, "M11 " + at + "dir4.zel"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    if (!c.content.empty()) app_.write(c.source, c.content);
    const std::string dir = at + goReplace(c.source, ".txt", ".zel");
    if (c.outputDirEntries >= 0) std::filesystem::create_directory(dir);
    if (c.outputDirEntries > 0) app_.write(dir.substr(at.size()) + "/kept", "x");
    EXPECT_EQ(compile(at + c.source), c.expected);
    EXPECT_EQ(readFile("requests.log"), c.expected + "\n");
    if (c.outputDirEntries < 0) continue;
    EXPECT_TRUE(std::filesystem::is_directory(dir));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), c.outputDirEntries);
    if (c.outputDirEntries > 0) EXPECT_EQ(readFile(dir + "/kept"), "x");
  }
  EXPECT_EQ(readFile(at + "self"), good);
  EXPECT_TRUE(noTemporaryFiles());
}

// Where no temporary file can be made beside the output, a writable output
// file is written directly, and only with a whole compiled program. Root
// writes anywhere, so the compilations run in a child process as an
// ordinary user.
TEST_F(CompilerTest, WritableFileInAReadOnlyDirectory) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string good = "a line of thirteen or more bytes";
  const std::string old = "old compiled program\n";
  struct Case {
    std::string name, source;
    mode_t outputMode;  // 0: no output file
    std::string expected, outputAfter;
  };
  const Case cases[] = {
      {"good", good + "\n\n", 0666, "M10", compiled(good) + "\n-;\n"},
      {"short", good + "\ntwelve bytes\n", 0666, "M9", old},
      {"readonly", good, 0444, "M11 " + app_.path() + "/ro/readonly.zel", old},
      {"absent", good, 0, "M11 " + app_.path() + "/ro/absent.zel", ""},
  };
  for (const Case& c : cases) {
    app_.write("ro/" + c.name + ".txt", c.source);
    if (c.outputMode == 0) continue;
    const std::string output = app_.write("ro/" + c.name + ".zel", old);
    chmod(output.c_str(), c.outputMode);
  }
  const std::string dir = app_.path() + "/ro";
  chmod(app_.path().c_str(), 0755);
  chmod(dir.c_str(), 0555);
  EXPECT_EXIT(
      {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) std::exit(2);
        bool right = true;
        for (const Case& c : cases) {
          const std::string result = compile(dir + "/" + c.name + ".txt");
          const std::string after = readFile(dir + "/" + c.name + ".zel");
          if (result != c.expected || after != c.outputAfter) {
            std::fprintf(stderr, "%s: %s / %s\n", c.name.c_str(), result.c_str(), after.c_str());
            right = false;
          }
        }
        std::exit(right ? 3 : 1);
      },
      ::testing::ExitedWithCode(3), "");
  chmod(dir.c_str(), 0755);
}

// The output gets the mode a new file would get, and the process mask is
// never changed to find it out.
TEST_F(CompilerTest, OutputModeFollowsTheMaskLeftAlone) {
  const std::string source = app_.write("prog.txt", "print 1 + 2 + 3;\n");
  const mode_t before = static_cast<mode_t>(syscall(SYS_umask, 022));
  for (const mode_t mask : {022, 077, 027, 0}) {
    syscall(SYS_umask, mask);
    umaskCalls = 0;
    EXPECT_EQ(compile(source), "M10");
    struct stat info {};
    ASSERT_EQ(stat((app_.path() + "/prog.zel").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask) << std::oct << mask;
    EXPECT_EQ(umaskCalls.load(), 0);
    std::filesystem::remove(app_.path() + "/prog.zel");
  }
  syscall(SYS_umask, before);
}

TEST_F(CompilerTest, RequestLogHoldsTheLatestEntryOnly) {
  EXPECT_TRUE(goAddToLog("first\nentry"));
  EXPECT_TRUE(goAddToLog("second"));
  EXPECT_EQ(readFile("requests.log"), "second\n");
  EXPECT_TRUE(goAddToLog(""));
  EXPECT_EQ(readFile("requests.log"), "\n");
  std::filesystem::remove("requests.log");
  std::filesystem::create_directory("requests.log");
  EXPECT_FALSE(goAddToLog("x"));
}

// Whether the log was written is a fact of its own, not a catalogue text:
// with no message 35 a blocked log is still reported as not written.
TEST_F(CompilerTest, LogOutcomeHoldsWithoutMessage35) {
  std::string catalog = kTestCatalog;
  catalog.erase(catalog.find(":35:"));
  app_.write("node_modules/zel_linux/lang.conf", catalog);
  const std::string source = app_.write("prog.txt", "print 1 + 2 + 3;\n");
  std::filesystem::create_directory("requests.log");
  std::atomic<bool> cancel{false};
  const Outcome blocked = recordedCall(cancel, true, [&](Call& call) {
    call.setApp(app_.path());
    return compileScript(call, source, ".zel");
  });
  EXPECT_EQ(blocked.message, kCompiled);
  EXPECT_FALSE(blocked.logged);
}

// Something planted at the log's name is never written through nor waited
// on: the line is skipped (message 35), the compile result is the same and
// nothing is left beside the log.
TEST_F(CompilerTest, RequestLogIsNeverWrittenThroughWhatIsPlantedThere) {
  alarm(30);  // a FIFO opened for writing would wait for a reader
  namespace fs = std::filesystem;
  const std::string target = app_.write("target.txt", "precious");
  const std::string source = app_.write("prog.txt", "print 1 + 2 + 3;\n");
  const std::vector<std::function<void()>> plant = {
      [&] { fs::create_symlink(target, "requests.log"); },
      [&] { fs::create_symlink(app_.path() + "/made.txt", "requests.log"); },
      [&] { ASSERT_EQ(mkfifo("requests.log", 0600), 0); },
  };
  for (const auto& planted : plant) {
    planted();
    EXPECT_FALSE(goAddToLog("x"));
    EXPECT_EQ(compile(source), "M10");
    fs::remove("requests.log");
  }
  alarm(0);
  EXPECT_EQ(readFile(target), "precious");
  EXPECT_FALSE(fs::exists(app_.path() + "/made.txt"));
  for (const auto& entry : fs::directory_iterator(app_.path())) {
    EXPECT_EQ(entry.path().filename().string().find("requests.log"), std::string::npos);
  }
}

}  // namespace
