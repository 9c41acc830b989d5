#include "support/lang.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_dir.h"
#include "modules/zel_module.h"
#include "zel/state.h"

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

TEST_F(CatalogTest, FirstLineCarryingTheKeyWins) {
  catalog("intro :1: inside\n:1:first\n:1:second\n");
  EXPECT_EQ(goResponseLANG("1"), "intro  inside");
}

TEST_F(CatalogTest, ColonsDelimitTheNumber) {
  catalog(":11:eleven\n:21:twenty-one\n:1:one\n:01:leading zero\n");
  EXPECT_EQ(goResponseLANG("1"), "one");
  EXPECT_EQ(goResponseLANG("11"), "eleven");
  EXPECT_EQ(goResponseLANG("01"), "leading zero");
  EXPECT_EQ(goResponseLANG("7"), "");
}

TEST_F(CatalogTest, ExpandsPlaceholdersInOrder) {
  catalog(":3:a:3:b:EE:c :E1: :A1:g:A2: :B1:r\r\n");
  EXPECT_EQ(goResponseLANG("3"),
            "ab\nc :E1: \x1b[32mg\x1b[0m \x1b[31mr");
}

TEST_F(CatalogTest, KeyRemovalComesBeforeColourCodes) {
  // Removing ":4:" from ":A:4:1:" leaves ":A1:", which then becomes green.
  catalog(":A:4:1:x\n");
  EXPECT_EQ(goResponseLANG("4"), "\x1b[32mx");
}

TEST_F(CatalogTest, CrLfCatalogueGivesNoCarriageReturns) {
  catalog(":1:one\r\n:2:two\r\n");
  EXPECT_EQ(goResponseLANG("1"), "one");
  EXPECT_EQ(goResponseLANG("2"), "two");
}

TEST_F(CatalogTest, OnlyExactDashSemicolonLinesAreSkipped) {
  catalog("-;\n\n-; :5: five\n");
  EXPECT_EQ(goResponseLANG("5"), "-;  five");
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
                                 "12", "14", "18", "19", "20", "21", "35"};
  const std::string filled[] = {"1", "2", "3", "4", "11", "14", "18"};
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
