// What the engine keeps from disk is never served stale: every kind of
// change is seen by the next statement.
#include "cache/disk_cache.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "support/test_app.h"
#include "base/state.h"
#include "zel/zel.h"

namespace {

class DiskChangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    FirstResponse = "already set";
    app_.installSyntaxModule("keyword_syntax");
    app_.installPackModule("calc", "echo_module", "printer");
  }
  std::string command(const std::string& statement) {
    return CallZEL_Commandes(app_.path(), statement, syntax_);
  }
  std::string ran(const std::string& statement) const { return "ran " + syntax_ + ";" + statement; }
  std::string noForm(const std::string& message = "M19") const {
    return "(" + app_.syntaxModuleDir() + ") " + message;
  }

  TestApp app_;
  std::string syntax_ = app_.syntaxFile("calc", "print (printer)\n");
};

// What the bounded caches below hold.
struct Entry {
  uint64_t generation = 0;
  int value = 0;
};

// A cache full to its capacity gives up its least recently used entry for
// a new one.
TEST(DiskCacheBounds, EvictsTheLeastRecentlyUsedEntry) {
  // Never destroyed, as the engine's caches: every cache stays registered.
  static auto* cache = new DiskCache<Entry>(2);
  const std::string app = "/eviction-order";
  cache->node(app, "/a").entry.value = 1;
  cache->node(app, "/b").entry.value = 2;
  cache->node(app, "/a");  // /b is now the least recently used
  cache->node(app, "/c").entry.value = 3;
  EXPECT_EQ(cache->size(), 2u);
  EXPECT_EQ(cache->node(app, "/c").entry.value, 3);
  EXPECT_EQ(cache->node(app, "/a").entry.value, 1);
  EXPECT_EQ(cache->node(app, "/b").entry.value, 0);  // made anew
}

// An application's serial stands for its text only when it is given: the
// text is compared whenever the serial is 0 or another one.
TEST(DiskCacheBounds, ApplicationSerialsNeverJoinTwoTexts) {
  const std::pair<std::string, uint64_t> rows[] = {
      {"/serial-a", 0}, {"/serial-b", 0}, {"/serial-a", 7},
      {"/serial-a", 7}, {"/serial-b", 8}, {"/serial-c", 9},
  };
  std::vector<uint32_t> ids;
  for (size_t i = 0; i < std::size(rows); ++i) {
    ids.push_back(cache_use::application(rows[i].first, rows[i].second));
    for (size_t j = 0; j < i; ++j) {
      EXPECT_EQ(ids[i] == ids[j], rows[i].first == rows[j].first) << i << " against " << j;
    }
  }
}

// The statement in progress may hold references into a cache: what it has
// looked up stays, even beyond the cache's capacity, until it ends.
TEST(DiskCacheBounds, KeepsWhatTheStatementInProgressUses) {
  static auto* cache = new DiskCache<Entry>(2);
  const std::string app = "/statement-in-progress";
  const StatementScope statement(app);
  for (int i = 1; i <= 3; ++i) cache->node(app, "/" + std::to_string(i)).entry.value = i;
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(cache->node(app, "/" + std::to_string(i)).entry.value, i);
}

TEST_F(DiskChangeTest, EditedCatalogue) {
  EXPECT_EQ(command("other x;"), noForm());
  app_.write("node_modules/zel_linux/lang.conf", std::string(kTestCatalog) + ":19:edited\n");
  EXPECT_EQ(command("other x;"), noForm());  // the first line with the key still wins
  app_.write("node_modules/zel_linux/lang.conf", ":19:replaced\n:21:STOP-NOW\n");
  EXPECT_EQ(command("other x;"), noForm("replaced"));
  std::filesystem::remove_all(app_.modules() + "zel_linux");
  EXPECT_EQ(command("other x;"), noForm("Lecture des reponses impossible (LANG).\n    ->" +
                                        app_.modules() + "zel_linux/lang.conf"));
}

TEST_F(DiskChangeTest, EditedOrReplacedSyntaxFile) {
  EXPECT_EQ(command("say x;"), noForm());
  app_.syntaxFile("calc", "print (printer)\nsay (printer)\n");
  EXPECT_EQ(command("say x;"), ran("say x;"));
  // Replaced by a rename, as editors save.
  app_.write("calc.new", "print (printer)\n");
  std::filesystem::rename(app_.path() + "/calc.new", syntax_);
  EXPECT_EQ(command("say x;"), noForm());
  std::filesystem::remove(syntax_);
  EXPECT_EQ(command("say x;"), "M1 " + syntax_);
}

TEST_F(DiskChangeTest, EditedTargetOfALinkedSyntaxFile) {
  const std::string target = app_.write("packs/calc.zel", "print (printer)\n");
  std::filesystem::remove(syntax_);
  std::filesystem::create_symlink(target, syntax_);
  EXPECT_EQ(command("say x;"), noForm());
  app_.write("packs/calc.zel", "say (printer)\n");
  EXPECT_EQ(command("say x;"), ran("say x;"));
}

TEST_F(DiskChangeTest, SyntaxModuleAddedAndRemoved) {
  std::filesystem::remove(app_.syntaxModuleDir() + "keyword_syntax.so");
  EXPECT_EQ(command("print x;"), noForm());
  app_.installSyntaxModule("accept_all");
  EXPECT_EQ(command("print x;"), ran("print x;"));
  std::filesystem::remove_all(app_.syntaxModuleDir());
  EXPECT_EQ(command("print x;"), "M4 ./korrin_linux");
  // The directory made again is a new directory to watch.
  std::filesystem::create_directory(app_.syntaxModuleDir());
  EXPECT_EQ(command("print x;"), noForm());
  app_.installSyntaxModule("accept_all");
  EXPECT_EQ(command("print x;"), ran("print x;"));
}

TEST_F(DiskChangeTest, SyntaxModuleMadeUnreadable) {
  // As an ordinary user, who owns the module; root reads any file.
  const std::string module = app_.syntaxModuleDir() + "keyword_syntax.so";
  const std::string dir = app_.path();
  for (const std::string& p : {dir, app_.modules(), app_.syntaxModuleDir(), module}) {
    chown(p.c_str(), 65534, 65534);
  }
  EXPECT_EXIT(
      {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) std::exit(2);
        const bool before = command("print x;") == ran("print x;");
        chmod(module.c_str(), 0);
        const bool after = command("print x;") == noForm();
        std::exit(before && after ? 3 : 1);
      },
      ::testing::ExitedWithCode(3), "");
}

TEST_F(DiskChangeTest, PackModuleRemoved) {
  EXPECT_EQ(command("print x;"), ran("print x;"));
  std::filesystem::remove(app_.modules() + "calc/printer.so");
  EXPECT_EQ(command("print x;"), "M4 " + app_.modules() + "calc/printer.so");
}

TEST_F(DiskChangeTest, ChangeMadeByAStatementIsSeenByTheNextInTheSameRun) {
  app_.installPackModule("calc", "remove_module", "remover");
  app_.syntaxFile("calc", "print (printer)\nrm (remover)\n");
  const std::string printer = app_.modules() + "calc/printer.so";
  const std::string program = app_.write("prog.txt",
      ":s:calc.zel;\nprint first;\nrm " + printer + ";\nprint second;\n");
  EXPECT_EQ(CallZEL_Executer(app_.path(), program), "M4 " + printer);
}

// More applications than the caches hold, each asked once, push the first
// one's entries out, watches and all; its module replaced meanwhile is the
// one its next statement runs, never what an evicted entry held.
TEST_F(DiskChangeTest, FirstApplicationAfterManyOthersRunsItsModuleAsItIsNow) {
  EXPECT_EQ(command("print a;"), ran("print a;"));
  std::vector<std::unique_ptr<TempDir>> others;  // kept: removing them is a change
  for (size_t i = 0; i <= kCachedApplications; ++i) {
    others.push_back(std::make_unique<TempDir>());
    CallZEL_Commandes(others.back()->path(), "x;", others.back()->path() + "/calc.zel");
  }
  const std::string printer = app_.modules() + "calc/printer.so";
  std::filesystem::copy_file(std::string(ZEL_FIXTURE_DIR) + "/statement_module.so", printer + ".new");
  std::filesystem::rename(printer + ".new", printer);
  EXPECT_EQ(command("print b;"), "did print b");
}

// A match level keeps the forms and module directory of its latest
// statement. Entries evicted since then gave their watches back, so an
// edit made after that is seen by no watch: it is read because the kept
// ones are looked up again once anything was evicted.
TEST_F(DiskChangeTest, KeptFormsAreLookedUpAgainAfterEvictions) {
  // The second read is kept.
  for (int read = 0; read < 2; ++read) EXPECT_EQ(command("say x;"), noForm());
  for (size_t i = 0; i <= kCachedApplications; ++i) {
    cache_use::application("/evicting-" + std::to_string(i));
  }
  app_.syntaxFile("calc", "print (printer)\nsay (printer)\n");
  EXPECT_EQ(command("say x;"), ran("say x;"));
}

// Paths worked out from the application directory are kept between calls;
// calls that alternate between applications must each see their own files,
// even through the same syntax file.
TEST_F(DiskChangeTest, ApplicationsCalledInTurnSeeTheirOwnFiles) {
  TestApp other;
  other.write("node_modules/zel_linux/lang.conf", ":19:other M19\n:21:STOP-NOW\n");
  other.installPackModule("calc", "statement_module", "printer");
  std::filesystem::create_directories(other.syntaxModuleDir());
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(command("print x;"), ran("print x;"));
    // No syntax module in the other application.
    EXPECT_EQ(CallZEL_Commandes(other.path(), "print x;", syntax_),
              "(" + other.syntaxModuleDir() + ") other M19");
    other.installSyntaxModule("keyword_syntax");
    // The same syntax file; the module comes from the other application.
    EXPECT_EQ(CallZEL_Commandes(other.path(), "print x;", syntax_), "did print x");
    EXPECT_EQ(command("print x;"), ran("print x;"));
    std::filesystem::remove(other.syntaxModuleDir() + "keyword_syntax.so");
  }
}

}  // namespace

// A release switched through a symbolic link, the way deploys do it: a new
// link renamed over the old one. Each release has its own catalogue and its
// own syntax module under the same name; the link sits at the application
// directory itself, one level above it or two.
TEST(ReleaseLinkTest, NextStatementSeesTheSwitchedRelease) {
  for (const std::string below : {"", "/site", "/apps/site"}) {
    SCOPED_TRACE("below the link: " + below);
    FirstResponse = "already set";
    TempDir base;
    for (const std::string release : {"v1", "v2"}) {
      const std::string app = "releases/" + release + below + "/";
      base.write(app + "node_modules/zel_linux/lang.conf", ":19:[" + release + "] M19\n");
      base.write(app + "node_modules/calc.zel", "print (printer)\n");
      TestApp::copy(release == "v1" ? "keyword_syntax" : "accept_all",
                    base.path() + "/" + app + "node_modules/korrin_linux/check.so");
      TestApp::copy("echo_module", base.path() + "/" + app + "node_modules/calc/printer.so");
    }
    const std::string current = base.path() + "/current";
    const auto switchTo = [&](const std::string& release) {
      std::filesystem::create_symlink("releases/" + release, base.path() + "/next");
      std::filesystem::rename(base.path() + "/next", current);
    };
    const std::string app = current + below;
    const std::string syntax = app + "/node_modules/calc.zel";
    const std::string v1 = "(" + app + "/node_modules/korrin_linux/) [v1] M19";
    const std::string v2 = "ran " + syntax + ";other x;";
    switchTo("v1");
    EXPECT_EQ(CallZEL_Commandes(app, "other x;", syntax), v1);
    switchTo("v2");
    EXPECT_EQ(CallZEL_Commandes(app, "other x;", syntax), v2);
    switchTo("v1");
    EXPECT_EQ(CallZEL_Commandes(app, "other x;", syntax), v1);
  }
}

// A catalogue or syntax file that is a second name of a file kept elsewhere,
// edited in place through that other name.
TEST_F(DiskChangeTest, EditThroughAnotherHardLink) {
  struct Case {
    std::string file;  // relative to the application
    std::string before, after;
    std::string statement, seenBefore, seenAfter;
  };
  const Case cases[] = {
      {"node_modules/calc.zel", "print (printer)\n", "say (printer)\n", "say x;", noForm(),
       ran("say x;")},
      {"node_modules/zel_linux/lang.conf", ":19:before\n", ":19:after\n", "other x;",
       noForm("before"), noForm("after")},
  };
  TempDir elsewhere;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string kept = elsewhere.write(c.file, c.before);
    const std::string name = app_.path() + "/" + c.file;
    std::filesystem::remove(name);
    std::filesystem::create_hard_link(kept, name);
    EXPECT_EQ(command(c.statement), c.seenBefore);
    std::ofstream(kept, std::ios::binary | std::ios::trunc) << c.after;
    EXPECT_EQ(command(c.statement), c.seenAfter);
  }
}

// A directory mounted over the catalogue's directory, and unmounted again.
// Needs a private mount namespace; skipped where one cannot be made.
TEST_F(DiskChangeTest, MountOverAWatchedDirectory) {
  const pid_t probe = fork();
  if (probe == 0) _exit(unshare(CLONE_NEWNS) == 0 ? 0 : 1);
  int status = 0;
  waitpid(probe, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    GTEST_SKIP() << "no private mount namespace here: mounts not tested";
  }
  TempDir other;
  other.write("lang.conf", ":19:mounted\n");
  const std::string dir = app_.modules() + "zel_linux";
  EXPECT_EXIT(
      {
        // In a re-executed child, so the engine starts in the new namespace.
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
          std::exit(2);
        }
        const bool before = command("other x;") == noForm();
        if (mount(other.path().c_str(), dir.c_str(), nullptr, MS_BIND, nullptr) != 0) std::exit(2);
        const bool mounted = command("other x;") == noForm("mounted");
        umount(dir.c_str());
        const bool unmounted = command("other x;") == noForm();
        std::exit(before && mounted && unmounted ? 3 : 1);
      },
      ::testing::ExitedWithCode(3), "");
}

// The process's resident memory, in kB.
long residentKb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

// The inotify watches the process holds, counted in its descriptors' fdinfo.
size_t inotifyWatches() {
  size_t count = 0;
  for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (std::filesystem::read_symlink(fd.path(), error) != "anon_inode:inotify") continue;
    std::ifstream info("/proc/self/fdinfo/" + fd.path().filename().string());
    for (std::string line; std::getline(info, line);) {
      if (line.rfind("inotify wd:", 0) == 0) ++count;
    }
  }
  return count;
}

// Thousands of application directories, each served once: the engine keeps
// watches only for those it caches, and its memory stops growing once the
// caches are full, whether the directories stay or go.
TEST(DiskCacheBoundTest, ManyApplicationsKeepWatchesAndMemoryBounded) {
  FirstResponse = "already set";
  // One copy of each module, linked into every application, so that the
  // loader maps it once and only the engine's own memory is measured.
  TempDir shared;
  TestApp::copy("keyword_syntax", shared.path() + "/keyword_syntax.so");
  TestApp::copy("echo_module", shared.path() + "/printer.so");
  const auto serve = [&](const TestApp& app) {
    for (const char* module : {"korrin_linux/keyword_syntax.so", "calc/printer.so"}) {
      const std::string name = app.modules() + module;
      std::filesystem::create_directories(std::filesystem::path(name).parent_path());
      std::filesystem::create_hard_link(shared.path() + "/" + std::filesystem::path(name)
                                            .filename().string(), name);
    }
    const std::string syntax = app.syntaxFile("calc", "print (printer)\n");
    EXPECT_EQ(CallZEL_Commandes(app.path(), "print x;", syntax), "ran " + syntax + ";print x;");
  };
  {
    std::vector<std::unique_ptr<TestApp>> kept;
    for (int i = 0; i < 300; ++i) serve(*kept.emplace_back(std::make_unique<TestApp>()));
    // About seven watches for each application cached, none for the others.
    EXPECT_LE(inotifyWatches(), 12 * kCachedApplications);
    EXPECT_LE(watchesHeld(), watchLimit());
  }
  for (int i = 0; i < 500; ++i) serve(TestApp());
  const long warm = residentKb();
  for (int i = 0; i < 2000; ++i) serve(TestApp());
#ifndef __SANITIZE_ADDRESS__
  // AddressSanitizer keeps freed memory aside for a while, so the resident
  // size says nothing there; the ordinary build checks it.
  EXPECT_LT(residentKb() - warm, 2048);
#else
  (void)warm;
#endif
  EXPECT_LE(inotifyWatches(), 12 * kCachedApplications);
}
