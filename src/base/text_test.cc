#include "base/text.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_dir.h"

namespace {

struct ReplaceCase {
  std::string text, pattern, replacement, expected;
};

TEST(GoReplace, ReplacesNonOverlappingOccurrencesLeftToRight) {
  const ReplaceCase cases[] = {
      {"abc", "x", "y", "abc"},            // absent pattern
      {"aaaa", "aa", "a", "aa"},           // each occurrence once
      {"aaa", "aa", "b", "ba"},            // overlapping one is left
      {"aXa", "a", "aa", "aaXaa"},         // replacement not searched again
      {"a-b-c", "-", "", "abc"},           // empty replacement deletes
      {"abc", "", "zz", "abc"},            // empty pattern: unchanged
      {"", "a", "b", ""},
      {std::string("a\0b\0", 4), std::string("\0", 1), "0", "a0b0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(goReplace(c.text, c.pattern, c.replacement), c.expected)
        << "text=" << c.text << " pattern=" << c.pattern;
  }
}

// A user's text quoted in a message: trimmed, cut at a character boundary.
TEST(Shortened, TrimsAndCutsBetweenCharacters) {
  const struct { std::string text; size_t limit; std::string expected; } cases[] = {
      {"  do b  ", 80, "do b"},
      {"   ", 80, ""},
      {"abcdef", 4, "abcd..."},
      {"ab\xC3\xA9" "cd", 3, "ab..."},  // the cut would split "\xC3\xA9"
      {"ab\xC3\xA9" "cd", 4, "ab\xC3\xA9..."},
  };
  for (const auto& c : cases) EXPECT_EQ(shortened(c.text, c.limit), c.expected) << c.text;
}

TEST(GoReplace, StaysLinearOnManyOccurrences) {
  // Four million occurrences: splicing each one into the text would take
  // hours; one pass takes milliseconds.
  const std::string text(8'000'000, 'a');
  const std::string out = goReplace(text, "aa", "b");
  EXPECT_EQ(out.size(), 4'000'000u);
  EXPECT_EQ(out.find_first_not_of('b'), std::string::npos);
}

TEST(GoReplaceFirstString, ReplacesOnlyTheLeftmost) {
  EXPECT_EQ(goReplaceFirstString("a.b.c", ".", "/"), "a/b.c");
  EXPECT_EQ(goReplaceFirstString("abc", "x", "y"), "abc");
  EXPECT_EQ(goReplaceFirstString("abc", "", ">"), ">abc");
}

TEST(TextCutting, ReturnsThePartAfterTheSeparator) {
  EXPECT_EQ(MyLastIndexOfSlash("a/b/c"), "c");
  EXPECT_EQ(MyLastIndexOfSlash("abc"), "abc");
  EXPECT_EQ(MyLastIndexOfSlash("a/"), "");
  EXPECT_EQ(MyLastIndexOfParam("f(g(x))"), "x))");
  EXPECT_EQ(MyLastIndexOfParam("print"), "print");
  EXPECT_EQ(MyFirstIndexOf("key=value;rest", ";="), "value;rest");
  EXPECT_EQ(MyFirstIndexOf("abc", ""), "abc");
  EXPECT_EQ(MyFirstIndexOf("abc", "xyz"), "abc");
  // The set ends at its first zero byte: "b" after it is not in the set.
  EXPECT_EQ(MyFirstIndexOf("abc", std::string("x\0b", 3)), "abc");
}

TEST(GoGetSizeWord, CountsNonOverlappingOccurrences) {
  const struct {
    std::string word, text;
    int count;
  } cases[] = {
      {"aa", "aaa", 1}, {"ab", "abab", 2}, {"x", "abc", 0},
      {"", "abc", 0},   {"aa", "aaaa", 2}, {"a", "", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(goGetSizeWORDINT(c.word, c.text), c.count) << c.word << " in " << c.text;
    EXPECT_EQ(goGetSizeWORD(c.word, c.text), std::to_string(c.count));
  }
}

TEST(IsPathExist, FollowsTheFileSystem) {
  TempDir dir;
  const std::string file = dir.write("f.txt", "x");
  EXPECT_TRUE(IsPathExist(dir.path()));
  EXPECT_TRUE(IsPathExist(file));
  EXPECT_FALSE(IsPathExist(dir.path() + "/missing"));
  EXPECT_FALSE(IsPathExist(""));
}

// Relative paths resolved on their text alone: empty and "." components do
// not count, ".." climbs one level, and climbing above the start leaves.
TEST(PathBoundary, LexicalResolution) {
  const std::string nul(1, '\0');
  const struct {
    std::string path;
    bool staysBelow;
    bool packModuleName;
  } cases[] = {
      {"calc.zel", true, true},          {"sub/inner", true, true},
      {"a/../b", true, false},           {"a/b/../../c", true, false},
      {"..", false, false},              {"a/../../b", false, false},
      {"./../x", false, false},          {"a//..//..", false, false},
      {"/etc/x", false, false},          {"x" + nul + "y", false, false},
      {"..x/y..", true, true},           {"", true, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(staysBelow(c.path), c.staysBelow) << withVisibleNul(c.path);
    EXPECT_EQ(isPackModuleName(c.path), c.packModuleName) << withVisibleNul(c.path);
  }
  EXPECT_EQ(withVisibleNul("a" + nul + "b" + nul), "a\\0b\\0");
}

TEST(FoldedPath, FoldsOnTheTextAlone) {
  const std::pair<std::string, std::string> cases[] = {
      {"calc.zel", "calc.zel"},        {"a/./b//c/", "a/b/c"},
      {"mylib/../app/x.zel", "app/x.zel"}, {"a/b/../../c", "c"},
      {"a/..", ""},                    {"./", ""},
      {"a/../../b", "../b"},           {"../..", "../.."},
      {"...zel", "...zel"},            {"..x/y..", "..x/y.."},
      {"/a/../../b", "/b"},            {"/", "/"},
  };
  for (const auto& [path, folded] : cases) EXPECT_EQ(foldedPath(path), folded) << path;
}

}  // namespace
