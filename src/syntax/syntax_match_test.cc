#include "syntax/syntax_match.h"

#include <gtest/gtest.h>

#include <string>

#include "compile/cipher.h"
#include "support/test_app.h"
#include "syntax/syntax_search.h"
#include "base/state.h"
#include "entries/classic.h"

namespace {

TEST(SyntaxLines, ClassifiesRawLines) {
  const struct {
    std::string raw;
    bool isSyntaxLine;
    std::string text;
  } cases[] = {
      {"print (echo)", true, "print (echo)"},
      {"print (echo)\r", true, "print (echo)"},
      {"", false, ""},
      {"## a comment", false, ""},
      {"a ==-; b", false, ""},
      {"// comment", false, ""},
      {"x <-- y", false, ""},
      {":s:demo.zel;", false, ""},
      {"get (CURL)", false, ""},
      {compiled("say hello (talker)"), true, "say hello (talker)"},
      {compiled("a longer line;b"), true, "a longer line"},
      {compiled("// enciphered comment"), false, ""},
      {compiled("x :s: header line"), false, ""},
  };
  for (const auto& c : cases) {
    std::string text;
    EXPECT_EQ(toSyntaxLine(c.raw, text), c.isSyntaxLine) << c.raw;
    if (c.isSyntaxLine) EXPECT_EQ(text, c.text) << c.raw;
  }
}

TEST(SyntaxLines, DerivesParameterAndPattern) {
  const struct {
    std::string line, parameter, pattern;
  } cases[] = {
      {"print (echo)", "echo", "print"},
      {"print(echo)", "echo", "print"},
      {"print (echo )", "echo", "print"},
      {"print x", "print x", "print x"},
      {"say (ZE) (talk)", "talk", "say (ZE)"},
      {"f (a) (b)", "b", "f (a)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parameterText(c.line), c.parameter) << c.line;
    EXPECT_EQ(patternText(c.line), c.pattern) << c.line;
  }
}

TEST(SyntaxLines, CutsEntryNamesIntoPieces) {
  using Pieces = std::vector<std::string>;
  EXPECT_EQ(entryNamePieces("."), Pieces{});
  EXPECT_EQ(entryNamePieces(".."), Pieces{});
  EXPECT_EQ(entryNamePieces(".bin"), Pieces{"bin"});
  EXPECT_EQ(entryNamePieces("name.so.1"), (Pieces{"name", "so", "1"}));
  EXPECT_EQ(entryNamePieces("a..so"), (Pieces{"a", "so"}));
}

class SyntaxMatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    myAbsolutePathDirApp = app_.path();
    resultat.clear();
    lineSyntaxesExistLib.clear();
    app_.installSyntaxModule("keyword_syntax");
  }
  std::string match(const std::string& statement) {
    return goOpenSyntaxes(syntax_, statement, "1");
  }

  TestApp app_;
  std::string syntax_ = app_.syntaxFile("demo", "## demo pack\nprint (echo)\nsay (ZE) (talker)\n");
};

TEST_F(SyntaxMatchTest, AcceptsWithTheParameterOfTheFormAndStopsThere) {
  EXPECT_EQ(match("print x;"), "(TRUEZEL)echo");
  EXPECT_EQ(resultat, "(TRUEZEL)echo");
  // The module saw the pattern and the statement without ";"; the second
  // form was never offered.
  EXPECT_EQ(app_.keywordCalls(), "print|print x\n");
}

// Syntax modules see the statement without any ";", however many it holds.
TEST_F(SyntaxMatchTest, EverySemicolonIsRemovedBeforeModulesSeeTheStatement) {
  const TextCase cases[] = {
      {"print x;", "print|print x\n"},
      {"print a; b;", "print|print a b\n"},
      {"print ;a;;", "print|print a\n"},
      // Nothing left: the first module's no opinion, "", is the statement.
      {";;", "print|\n"},
      {"print x(ZE);", "print|print x\n"},
      {"print (Z;E) x;", "print|print  x\n"},
  };
  for (const auto& c : cases) {
    const size_t before = app_.keywordCalls().size();
    EXPECT_EQ(match(c.input), "(TRUEZEL)echo") << c.input;
    EXPECT_EQ(app_.keywordCalls().substr(before), c.expected) << c.input;
  }
}

TEST_F(SyntaxMatchTest, RefusalAnswersOfTheLastModuleDecide) {
  EXPECT_EQ(match("nm x;"), "try another form");
  EXPECT_EQ(match("lex x;"), "M2 bad word in lex x");
  EXPECT_EQ(match("nf x;"), "M3 nf x");
  // An earlier answer carried a refusal, the last one none: the scan's own
  // text, with the marker the scan put in front of it.
  const std::string marked = app_.syntaxFile("marked", "marked (x)\nother (y)\n");
  EXPECT_EQ(goOpenSyntaxes(marked, "zzz q;", "1"), "(MDNF)M19");
}

TEST_F(SyntaxMatchTest, NoAcceptanceNamesTheModuleDirectory) {
  EXPECT_EQ(match("other x;"), "(" + app_.syntaxModuleDir() + ") M19");
}

TEST_F(SyntaxMatchTest, ZeMarkerOnStatementAndFormIsRefused) {
  EXPECT_EQ(match("tell (ZE) x;"), "M14 say ");
  // Accepted forms are not refused.
  EXPECT_EQ(match("say (ZE) x;"), "(TRUEZEL)talker");
}

TEST_F(SyntaxMatchTest, FailuresBeforeAnyModuleIsAsked) {
  EXPECT_EQ(goOpenSyntaxes(app_.modules() + "none.zel", "print x;", "1"),
            "M1 " + app_.modules() + "none.zel");
  const std::string comments = app_.syntaxFile("empty", "## only\n// comments\n");
  EXPECT_EQ(goOpenSyntaxes(comments, "print x;", "1"), "M18 print x;");
  // A result left over that holds a marker decides nothing.
  resultat = "(MDNF)M19";
  EXPECT_EQ(goOpenSyntaxes(comments, "print x;", "1"), "M18 print x;");
  std::filesystem::remove_all(app_.syntaxModuleDir());
  EXPECT_EQ(match("print x;"), "M4 ./korrin_linux");
}

TEST_F(SyntaxMatchTest, ModuleThatCannotLoadIsPassedOver) {
  app_.write("node_modules/korrin_linux/broken.so", "not a module");
  // Loaded, but its create() gives no object: its answer is the refusal.
  app_.install("null_create", "node_modules/korrin_linux/empty.so");
  for (int round = 0; round < 2; ++round) EXPECT_EQ(match("print x;"), "(TRUEZEL)echo");
}

TEST_F(SyntaxMatchTest, AnEarlierAnswerNeverAcceptsOrSkipsAModule) {
  // The last answer of an earlier match equals the statement: the modules
  // must still be asked, and their refusal stands.
  lineSyntaxesExistLib = "other x";
  EXPECT_EQ(match("other x;"), "(" + app_.syntaxModuleDir() + ") M19");
  EXPECT_EQ(app_.keywordCalls(), "print|other x\nsay |other x\n");
  // Running an accepted statement twice asks the module both times.
  EXPECT_EQ(match("print y;"), "(TRUEZEL)echo");
  EXPECT_EQ(match("print y;"), "(TRUEZEL)echo");
  EXPECT_EQ(lineSyntaxesExistLib, "print y");
}

class SyntaxSearchTest : public SyntaxMatchTest {};

TEST_F(SyntaxSearchTest, CommentsAndShortStatementsLeaveTheResult) {
  for (const std::string statement : {"## note;", "// note;", "<- note;", "'note;", ";", ""}) {
    resultat = "before";
    EXPECT_EQ(goVerifySyntaxesAll(syntax_, statement, "1"), "before") << statement;
  }
  EXPECT_EQ(app_.keywordCalls(), "");
  EXPECT_EQ(goVerifySyntaxesAll(syntax_, "#print;", "1"), "(" + app_.syntaxModuleDir() + ") M19");
  EXPECT_EQ(goVerifySyntaxesAll(syntax_, "<print;", "1"), "(" + app_.syntaxModuleDir() + ") M19");
}

TEST_F(SyntaxSearchTest, AllPacksInDirectoryOrder) {
  app_.syntaxFile("other", "print (second)\n");
  // Whichever pack the directory lists first decides.
  std::string first;
  for (const auto& entry : std::filesystem::directory_iterator(app_.modules())) {
    const std::string name = entry.path().filename().string();
    if (first.empty() && (name == "demo.zel" || name == "other.zel")) first = name;
  }
  // directory_iterator skips "." and ".."; readdir lists them, in the same
  // relative order for the remaining entries.
  const std::string result = goVerifySyntaxesAll("*.*", "print x;", "1");
  EXPECT_EQ(result, first == "demo.zel" ? "(TRUEZEL)echo" : "(TRUEZEL)second");
  EXPECT_EQ(myDirPath, app_.modules());
}

TEST_F(SyntaxSearchTest, AllPacksWithoutPacksOrNodeModules) {
  std::filesystem::remove(syntax_);
  EXPECT_EQ(goVerifySyntaxesAll("*.*", "print x;", "1"), "M20");
  std::filesystem::remove_all(app_.modules());
  myAbsolutePathDirApp = app_.path();
  EXPECT_EQ(goVerifySyntaxesAll("*.*", "print x;", "1"),
            "Lecture des reponses impossible (LANG).\n    ->" + app_.path() +
                "/node_modules/zel_linux/lang.conf");
}

}  // namespace
