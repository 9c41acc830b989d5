#include "lang/lang.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_dir.h"
#include "modules/zel_module.h"
#include "base/state.h"
#include "entries/classic.h"

namespace {

// Points the engine at a scratch application whose catalogue holds `content`.
class CatalogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = myAbsolutePathDirApp;
    myAbsolutePathDirApp = app_.path();
  }
  void TearDown() override { myAbsolutePathDirApp = saved_; }
  void catalog(const std::string& content) {
    app_.write("node_modules/zel_linux/lang.conf", content);
  }

  TempDir app_;
  std::string saved_;
};

// How a message is found in a catalogue and expanded: one row a case.
TEST_F(CatalogTest, LookupAndExpansion) {
  const struct {
    const char* catalogue;
    const char* number;
    const char* expected;
  } cases[] = {
      // The first line carrying the key wins, wherever the key stands.
      {"intro :1: inside\n:1:first\n:1:second\n", "1", "intro  inside"},
      // The colons delimit the number; a number no line carries gives "".
      {":11:eleven\n:21:twenty-one\n:1:one\n:01:leading zero\n", "1", "one"},
      {":11:eleven\n:21:twenty-one\n:1:one\n:01:leading zero\n", "11", "eleven"},
      {":11:eleven\n:21:twenty-one\n:1:one\n:01:leading zero\n", "01", "leading zero"},
      {":11:eleven\n:21:twenty-one\n:1:one\n:01:leading zero\n", "7", ""},
      // Placeholders in order; ":E1:" is left for the caller.
      {":3:a:3:b:EE:c :E1: :A1:g:A2: :B1:r\r\n", "3", "ab\nc :E1: \x1b[32mg\x1b[0m \x1b[31mr"},
      // Removing ":4:" from ":A:4:1:" leaves ":A1:", which then becomes green.
      {":A:4:1:x\n", "4", "\x1b[32mx"},
      // A CR LF catalogue gives no carriage returns.
      {":1:one\r\n:2:two\r\n", "1", "one"},
      {":1:one\r\n:2:two\r\n", "2", "two"},
      // Only lines that are exactly "-;" (or empty) are skipped.
      {"-;\n\n-; :5: five\n", "5", "-;  five"},
  };
  for (const auto& c : cases) {
    catalog(c.catalogue);
    EXPECT_EQ(goResponseLANG(c.number), c.expected) << c.catalogue << " message " << c.number;
  }
}

TEST_F(CatalogTest, MissingCatalogueGivesTheFrenchTextWithThePath) {
  EXPECT_EQ(goResponseLANG("1"),
            "Lecture des reponses impossible (LANG).\n    ->" + app_.path() +
                "/node_modules/zel_linux/lang.conf");
}

TEST_F(CatalogTest, EditedCatalogueIsSeenAtTheNextLookup) {
  catalog(":10:before\n");
  EXPECT_EQ(goResponseLANG("10"), "before");
  catalog(":10:after\n");
  EXPECT_EQ(goResponseLANG("10"), "after");
}

// The catalogues shipped with the project answer every message the engine
// asks for, with ":E1:" where the caller fills it in, and agree on the stop
// answer so that switching language does not change what ends a program.
TEST_F(CatalogTest, ShippedCataloguesCarryEveryMessage) {
  const std::string numbers[] = {"1",  "2",  "3",  "4",  "9",  "10", "11",
                                 "12", "14", "18", "19", "20", "21", "35", "36", "37"};
  const std::string filled[] = {"1", "2", "3", "4", "11", "14", "18", "37"};
  for (const char* file : {"lang.conf", "lang.fr.conf"}) {
    std::ifstream in(std::string(ZEL_SOURCE_DIR) + "/lang/" + file,
                     std::ios::binary);
    ASSERT_TRUE(in.is_open()) << file;
    catalog(std::string(std::istreambuf_iterator<char>(in), {}));
    for (const auto& n : numbers) {
      EXPECT_NE(goResponseLANG(n), "") << file << " lacks message " << n;
    }
    for (const auto& n : filled) {
      EXPECT_NE(goResponseLANG(n).find(":E1:"), std::string::npos)
          << file << " message " << n << " lacks :E1:";
    }
    EXPECT_EQ(goResponseLANG("21"), ZEL_STOP_ANSWER) << file;
  }
}

}  // namespace
