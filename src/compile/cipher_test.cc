#include "compile/cipher.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>

#include "base/text.h"
#include "base/state.h"

namespace {

// A source line as the compiler writes it, and as the runners read it back.
std::string writeLine(const std::string& source) {
  return goEnCryptZEL(goBase64(source)) + "-;";
}
std::string readLine(const std::string& compiled) {
  return base64_decode(goDeCryptZEL(compiled));
}

TEST(CipherTable, MeetsItsConstraints) {
  ASSERT_EQ(kCipherTableSize, 79u);
  const std::string expectedAlphabet =
      "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ "
      "\"'()*./:;=?[]`{}";
  std::set<char> characters;
  std::set<std::string> words;
  std::map<size_t, int> digitsCount;
  for (size_t i = 0; i < kCipherTableSize; ++i) {
    const std::string word = kCipherTable[i].word;
    characters.insert(kCipherTable[i].character);
    words.insert(word);
    ASSERT_GE(word.size(), 7u);
    EXPECT_EQ(word.front(), '-');
    EXPECT_EQ(word.back(), '-');
    const std::string digits = word.substr(1, word.size() - 2);
    EXPECT_EQ(digits.find_first_not_of("01"), std::string::npos) << word;
    EXPECT_TRUE(hasCipherMarker(word)) << word;
    ++digitsCount[digits.size()];
  }
  EXPECT_EQ(characters, std::set<char>(expectedAlphabet.begin(), expectedAlphabet.end()));
  EXPECT_EQ(words.size(), 79u);
  EXPECT_EQ(digitsCount, (std::map<size_t, int>{{5, 4}, {6, 7}, {7, 14}, {8, 16}, {9, 18}, {10, 20}}));
  EXPECT_EQ(kCipherTable[0].character, '0');
  EXPECT_EQ(std::string(kCipherTable[0].word).find('1'), std::string::npos);
  EXPECT_EQ(kCipherTable[1].character, '1');
}

TEST(Encipher, ThresholdAndFlag) {
  const struct {
    std::string text;
    bool enciphered, flagged;
  } cases[] = {
      {"", false, false},
      {"DQ==", false, false},
      {"QUJD", false, true},
      {std::string(16, 'Q'), false, true},   // a 12-byte line
      {std::string(19, 'Q'), false, true},
      {std::string(20, 'Q'), true, false},   // a 13-byte line
  };
  for (const auto& c : cases) {
    ErrorEnCrypt = false;
    const std::string out = goEnCryptZEL(c.text);
    EXPECT_EQ(out != c.text, c.enciphered) << c.text;
    EXPECT_EQ(ErrorEnCrypt, c.flagged) << c.text;
  }
  // The flag is only ever set here, never cleared.
  ErrorEnCrypt = true;
  goEnCryptZEL(std::string(20, 'Q'));
  EXPECT_TRUE(ErrorEnCrypt);
  ErrorEnCrypt = false;
}

TEST(Encipher, PlusStaysBetweenCodeWords) {
  const std::string base64 = "+AAAAAAAAAAAAAAAAAA+";
  const std::string out = goEnCryptZEL(base64);
  EXPECT_EQ(out.front(), '+');
  EXPECT_EQ(out.back(), '+');
  EXPECT_EQ(out.find_first_not_of("01-+"), std::string::npos);
  EXPECT_EQ(goDeCryptZEL(out + "-;"), base64 + "-");
}

TEST(CompiledLine, ShortLinesAndTerminators) {
  EXPECT_EQ(writeLine(""), "-;");
  EXPECT_EQ(writeLine("\r"), "DQ==-;");
  EXPECT_EQ(goDeCryptZEL("DQ==-;"), "DQ==-");
  EXPECT_EQ(readLine("DQ==-;"), "\r");
  EXPECT_EQ(goDeCryptZEL("-;"), "-");
  EXPECT_EQ(readLine("-;"), "");
  const std::string compiled = writeLine("print hello world;");
  EXPECT_EQ(compiled.find(';'), compiled.size() - 1);
  EXPECT_EQ(compiled.substr(compiled.size() - 3), "--;");
  EXPECT_TRUE(hasCipherMarker(compiled));
}

TEST(CompiledLine, EveryByteValueRoundTrips) {
  std::string all;
  for (int b = 0; b < 256; ++b) {
    const std::string line(13, static_cast<char>(b));
    EXPECT_EQ(readLine(writeLine(line)), line) << "byte " << b;
    all += static_cast<char>(b);
  }
  EXPECT_EQ(readLine(writeLine(all)), all);
}

TEST(CompiledLine, ArbitraryLinesOfEveryLengthRoundTrip) {
  std::mt19937 random(12345);
  for (size_t length = 13; length <= 400; ++length) {
    std::string line(length, '\0');
    for (char& c : line) c = static_cast<char>(random() & 0xFF);
    ErrorEnCrypt = false;
    ASSERT_EQ(readLine(writeLine(line)), line) << "length " << length;
    EXPECT_FALSE(ErrorEnCrypt);
  }
  const std::string text = "x = 1;\t// \xc3\xa9t\xc3\xa9 \xe2\x82\xac\r";
  EXPECT_EQ(readLine(writeLine(text)), text);
}

TEST(CompiledLine, LongRunsOfRestoredDigitsAreNotTakenForCodeWords) {
  // Base64 of bytes that are not UTF-8 can hold many "0" in a row. Restored
  // too early, "00000000" between the dashes of two neighbouring words would
  // read as the eight-digit word it equals.
  for (size_t i = 0; i < kCipherTableSize; ++i) {
    const std::string word = kCipherTable[i].word;
    const std::string digits = word.substr(1, word.size() - 2);
    std::string base64;
    for (char d : digits) base64 += d;  // the word's digits as Base64 text
    base64 = "ZZZZ" + base64 + "ZZZZZZZZZZZZ";
    base64.resize(base64.size() / 4 * 4);
    const std::string bytes = base64_decode(base64);
    ASSERT_EQ(goBase64(bytes), base64);
    EXPECT_EQ(readLine(writeLine(bytes)), bytes) << "word of " << kCipherTable[i].character;
  }
}

// The decipher as a literal walk: terminators, then every entry's word in
// table order with "0" and "1" last, each replaced everywhere with goReplace.
std::string walkDecipher(std::string text) {
  text = goReplace(text, "--;", "-");
  text = goReplace(text, "-;", "-");
  for (size_t i = 2; i < kCipherTableSize; ++i) {
    text = goReplace(text, kCipherTable[i].word, std::string(1, kCipherTable[i].character));
  }
  text = goReplace(text, kCipherTable[0].word, "0");
  return goReplace(text, kCipherTable[1].word, "1");
}

TEST(Decipher, MatchesTheLiteralWalkOnDamagedText) {
  // Code words glued by shared dashes, broken words and stray digits: the
  // texts where the order of replacements decides the outcome.
  std::mt19937 random(99);
  const std::string pieces[] = {"-", "0", "1", "01", "+", ";", "-;", "a", "--"};
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    const int parts = 1 + random() % 12;
    for (int p = 0; p < parts; ++p) {
      if (random() % 2) {
        std::string word = kCipherTable[random() % kCipherTableSize].word;
        if (random() % 2) word.pop_back();  // share the next word's dash
        text += word;
      } else {
        text += pieces[random() % (sizeof(pieces) / sizeof(pieces[0]))];
      }
    }
    ASSERT_EQ(goDeCryptZEL(text), walkDecipher(text)) << text;
  }
}

TEST(Base64, DecodingStopsWithoutError) {
  const struct {
    std::string text, bytes;
  } cases[] = {
      {"QUJD-xyz", "ABC"},  // complete group, then a stop
      {"QQ==", "A"},
      {"QUI=", "AB"},
      {"QUI", "AB"},
      {"Q", ""},
      {"", ""},
      {"QUJDRA==QUJD", "ABCD"},  // nothing after the first "="
      {"x = -110;", ""},         // plain text that carries a marker
  };
  for (const auto& c : cases) {
    EXPECT_EQ(base64_decode(c.text), c.bytes) << c.text;
  }
  EXPECT_EQ(readLine("x = -110;"), "");
  EXPECT_TRUE(hasCipherMarker("x = -110;"));
  EXPECT_FALSE(hasCipherMarker("x = 110-;0"));
  EXPECT_EQ(decipherStatement(writeLine("add 1 2; more;")), "add 1 2");
  EXPECT_EQ(decipherStatement(writeLine(";leading semicolon")), "");
  EXPECT_EQ(goBase64(std::string("a\0b", 3)), "YQBi");
  EXPECT_EQ(base64_encode(reinterpret_cast<const unsigned char*>("ABCD"), 4), "QUJDRA==");
}

}  // namespace
