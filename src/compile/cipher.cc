#include "compile/cipher.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "base/text.h"
#include "base/state.h"

// Code words are framed by dashes and made of binary digits only; each one
// begins with "-000" or "-11", so every enciphered line carries a marker.
// "0" comes first and its word holds no "1", and "1" comes second: the
// encipher walk can then never touch the inside of a word it inserted.
const CipherEntry kCipherTable[] = {
    {'0', "-00000-"},
    {'1', "-11100-"},
    {'a', "-00010-"},
    {'b', "-11111-"},
    {'c', "-111010-"},
    {'d', "-110110-"},
    {'e', "-111111-"},
    {'f', "-111100-"},
    {'g', "-110100-"},
    {'h', "-110011-"},
    {'i', "-000010-"},
    {'j', "-0001011-"},
    {'k', "-1100101-"},
    {'l', "-0001101-"},
    {'m', "-0001001-"},
    {'n', "-0001100-"},
    {'o', "-0000101-"},
    {'p', "-0001010-"},
    {'q', "-0000001-"},
    {'r', "-1101010-"},
    {'s', "-1100000-"},
    {'t', "-0001111-"},
    {'u', "-0000000-"},
    {'v', "-1100001-"},
    {'w', "-1100100-"},
    {'x', "-11111111-"},
    {'y', "-11011111-"},
    {'z', "-11101011-"},
    {'A', "-11101001-"},
    {'B', "-11000101-"},
    {'C', "-00000001-"},
    {'D', "-11100010-"},
    {'E', "-11110100-"},
    {'F', "-11101000-"},
    {'G', "-11110011-"},
    {'H', "-00010010-"},
    {'I', "-00010001-"},
    {'J', "-11111000-"},
    {'K', "-00011100-"},
    {'L', "-00001011-"},
    {'M', "-00000000-"},
    {'N', "-000000100-"},
    {'O', "-000110010-"},
    {'P', "-000100100-"},
    {'Q', "-110110000-"},
    {'R', "-111101001-"},
    {'S', "-000111010-"},
    {'T', "-111010000-"},
    {'U', "-110010011-"},
    {'V', "-111100011-"},
    {'W', "-000101010-"},
    {'X', "-110000110-"},
    {'Y', "-111001100-"},
    {'Z', "-000000001-"},
    {'2', "-111000011-"},
    {'3', "-111101011-"},
    {'4', "-110110111-"},
    {'5', "-110001111-"},
    {'6', "-110100110-"},
    {'7', "-1110000100-"},
    {'8', "-1101101110-"},
    {'9', "-1110010110-"},
    {' ', "-1110011110-"},
    {'"', "-1110010101-"},
    {'\'', "-1100101010-"},
    {'(', "-0001100011-"},
    {')', "-1100011000-"},
    {'*', "-1101000110-"},
    {'.', "-0000110000-"},
    {'/', "-1110001011-"},
    {':', "-1101001110-"},
    {';', "-1101110010-"},
    {'=', "-1111111101-"},
    {'?', "-0000110001-"},
    {'[', "-1110011000-"},
    {']', "-0001101001-"},
    {'`', "-0000000001-"},
    {'{', "-0000101000-"},
    {'}', "-0000011101-"},
};
const std::size_t kCipherTableSize = sizeof(kCipherTable) / sizeof(kCipherTable[0]);

namespace {

// Base64 texts shorter than this (source lines under 13 bytes) are returned
// as they are.
constexpr std::size_t kMinEncipherLength = 20;

// The word for each byte value: the byte itself for bytes outside the table.
std::array<std::string, 256> buildWordOf() {
  std::array<std::string, 256> wordOf;
  for (int c = 0; c < 256; ++c) wordOf[c] = std::string(1, static_cast<char>(c));
  for (std::size_t i = 0; i < kCipherTableSize; ++i) {
    wordOf[static_cast<unsigned char>(kCipherTable[i].character)] = kCipherTable[i].word;
  }
  return wordOf;
}

int base64Value(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Index in the table of the word with these digits, by digit count and
// value; -1 where no word has them.
using WordIndex = std::array<std::array<int, 1024>, 11>;

WordIndex buildWordIndex() {
  WordIndex index;
  for (auto& row : index) row.fill(-1);
  for (std::size_t i = 0; i < kCipherTableSize; ++i) {
    const std::string digits = kCipherTable[i].word;
    index[digits.size() - 2][std::stoi(digits.substr(1, digits.size() - 2), nullptr, 2)] =
        static_cast<int>(i);
  }
  return index;
}

// A "-digits-" stretch between two neighbouring dashes whose digits are the
// word of table entry `entry`.
struct Candidate {
  std::size_t start, end;  // positions of its two dashes
  int entry;
  bool replaced;
};

// Table entry of the word with the digits between `start` and `end`, or -1.
int entryOfDigits(const std::string& text, std::size_t start, std::size_t end) {
  static const WordIndex wordIndex = buildWordIndex();
  const std::size_t digits = end - start;
  if (digits < 5 || digits > 10) return -1;
  int value = 0;
  for (std::size_t i = start; i < end; ++i) {
    if (text[i] != '0' && text[i] != '1') return -1;
    value = value * 2 + (text[i] - '0');
  }
  return wordIndex[digits][value];
}

// Table entry (from the third on) whose word stands between the dashes at
// `start` and `end`, or -1.
int wordBetween(const std::string& text, std::size_t start, std::size_t end) {
  const int entry = entryOfDigits(text, start + 1, end);
  return entry >= 2 ? entry : -1;
}

// Settles a chain of stretches in which each shares a dash with the next, in
// the order the table walk would: by entry, then left to right. A stretch is
// replaced unless a neighbour replaced before it took a shared dash.
void settleChain(std::vector<Candidate>& chain) {
  if (chain.size() == 1) {
    chain[0].replaced = true;
    return;
  }
  std::vector<std::size_t> order(chain.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
    return chain[x].entry < chain[y].entry;
  });
  for (std::size_t i : order) {
    const bool leftTaken = i > 0 && chain[i - 1].replaced;
    const bool rightTaken = i + 1 < chain.size() && chain[i + 1].replaced;
    chain[i].replaced = !leftTaken && !rightTaken;
  }
}

// Gives the same text as replacing, entry after entry in table order (from
// the third entry on), every occurrence of the entry's word left to right as
// goReplace does, in one pass over the text and in place.
//
// An occurrence of a word can only be a stretch between two neighbouring
// dashes, and a replacement (a character that is neither a dash nor a binary
// digit) never creates a new one. Two occurrences interact only when they
// share a dash, and whichever is replaced first takes it. In a compiled line
// neighbouring words meet as "--" and share nothing; only damaged or foreign
// text forms chains, which are settled one by one.
void replaceWordsInTableOrder(std::string& text) {
  std::vector<Candidate> chain;
  std::size_t write = 0;  // text before `write` is final output
  std::size_t read = 0;   // text from `read` on is not yet copied
  auto flushChain = [&]() {
    if (chain.empty()) return;
    settleChain(chain);
    for (const Candidate& c : chain) {
      if (!c.replaced) continue;
      std::memmove(&text[write], &text[read], c.start - read);
      write += c.start - read;
      text[write++] = kCipherTable[c.entry].character;
      read = c.end + 1;
    }
    chain.clear();
  };
  std::size_t dash = text.find('-');
  while (dash != std::string::npos) {
    const std::size_t next = text.find('-', dash + 1);
    if (next == std::string::npos) break;
    const int entry = wordBetween(text, dash, next);
    if (entry >= 0) {
      if (!chain.empty() && chain.back().end != dash) flushChain();
      chain.push_back({dash, next, entry, false});
    }
    dash = next;
  }
  flushChain();
  std::memmove(&text[write], &text[read], text.size() - read);
  text.resize(write + text.size() - read);
}

}  // namespace

void appendEnciphered(const std::string& text, std::string& out) {
  if (text.size() < kMinEncipherLength) {
    if (!text.empty() && text != "DQ==") ErrorEnCrypt = true;
    out += text;
    return;
  }
  appendSubstituted(text, out);
}

void appendSubstituted(const std::string& text, std::string& out) {
  // Walking the table and replacing each character in turn gives the same
  // text as substituting every character once: code words hold only "-",
  // "0" and "1", and "0" and "1" are replaced before any other word exists.
  // So one pass over the text does the whole walk.
  static const std::array<std::string, 256> wordOf = buildWordOf();
  out.reserve(out.size() + text.size() * 12);
  for (unsigned char c : text) out += wordOf[c];
}

std::string goEnCryptZEL(std::string text) {
  std::string out;
  appendEnciphered(text, out);
  return out;
}

namespace {

// Deciphers a line as the compiler writes it, in one pass: whole code words
// that share no dash, "+" between them, and the terminator "-;" at the end.
// For such a line every step of the full decipher replaces exactly these
// words, so the result is the same. Returns false, leaving `out` to be
// ignored, for any other text.
bool decipherCompiledLine(const std::string& text, std::string& out) {
  const std::size_t n = text.size();
  if (n < 2 || text[n - 1] != ';' || text[n - 2] != '-') return false;
  // The body, with the closing dash of a final word given back by step 1,
  // or with the lone "-" that step 2 leaves after a final "+".
  const std::size_t end = n - 1;
  out.clear();
  out.reserve(n / 7 + 2);
  std::size_t i = 0;
  while (i < end) {
    if (text[i] == '+') {
      out += '+';
      ++i;
      continue;
    }
    if (text[i] != '-') return false;
    std::size_t close = i + 1;
    while (close < end && (text[close] == '0' || text[close] == '1')) ++close;
    if (close >= end) {
      if (i + 1 != end) return false;
      out += '-';  // the "-" that ends every deciphered line without a word
      return true;
    }
    if (text[close] != '-') return false;
    const int entry = entryOfDigits(text, i + 1, close);
    if (entry < 0) return false;
    out += kCipherTable[entry].character;
    i = close + 1;
    // "--;" ends the line: its first dash closed the last word.
    if (i == end - 1 && text[i] == '-') return true;
  }
  return false;
}

}  // namespace

std::string decipherLine(const std::string& line) {
  std::string text;
  if (decipherCompiledLine(line, text)) return text;
  text = goReplace(line, "--;", "-");
  text = goReplace(std::move(text), "-;", "-");
  // The words of "0" and "1" come last: once restored, a run of five or more
  // of those digits (possible in the Base64 text of arbitrary bytes) could
  // otherwise be taken for a later, longer word.
  replaceWordsInTableOrder(text);
  text = goReplace(std::move(text), kCipherTable[0].word, "0");
  text = goReplace(std::move(text), kCipherTable[1].word, "1");
  return text;
}

std::string goDeCryptZEL(std::string text) { return decipherLine(text); }

void appendCompiledLine(const std::string& source, std::string& out) {
  static std::string base64;  // reused: one compiled line after another
  base64.clear();
  base64_encode(reinterpret_cast<const unsigned char*>(source.data()),
                static_cast<unsigned int>(source.size()), base64);
  appendEnciphered(base64, out);
  out += "-;";
}

std::string goBase64(std::string text) {
  return base64_encode(reinterpret_cast<const unsigned char*>(text.data()),
                       static_cast<unsigned int>(text.size()));
}

std::string base64_encode(const unsigned char* bytes, unsigned int length) {
  std::string out;
  base64_encode(bytes, length, out);
  return out;
}

void base64_encode(const unsigned char* bytes, unsigned int length, std::string& out) {
  out.reserve(out.size() + (length + 2) / 3 * 4);
  unsigned int i = 0;
  for (; i + 3 <= length; i += 3) {
    const unsigned int group = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
    out += base64_chars[(group >> 18) & 63];
    out += base64_chars[(group >> 12) & 63];
    out += base64_chars[(group >> 6) & 63];
    out += base64_chars[group & 63];
  }
  const unsigned int rest = length - i;
  if (rest > 0) {
    const unsigned int group =
        (bytes[i] << 16) | (rest == 2 ? bytes[i + 1] << 8 : 0);
    out += base64_chars[(group >> 18) & 63];
    out += base64_chars[(group >> 12) & 63];
    out += rest == 2 ? base64_chars[(group >> 6) & 63] : '=';
    out += '=';
  }
}

std::string base64_decode(const std::string& text) {
  std::string out;
  out.reserve(text.size() / 4 * 3 + 2);
  unsigned int group = 0;
  int count = 0;
  for (unsigned char c : text) {
    const int value = base64Value(c);
    if (value < 0) break;  // "=" or any other byte ends the Base64 text
    group = (group << 6) | static_cast<unsigned int>(value);
    if (++count == 4) {
      out += static_cast<char>((group >> 16) & 0xFF);
      out += static_cast<char>((group >> 8) & 0xFF);
      out += static_cast<char>(group & 0xFF);
      group = 0;
      count = 0;
    }
  }
  if (count == 3) {
    out += static_cast<char>((group >> 10) & 0xFF);
    out += static_cast<char>((group >> 2) & 0xFF);
  } else if (count == 2) {
    out += static_cast<char>((group >> 4) & 0xFF);
  }
  return out;
}

bool hasCipherMarker(const std::string& text) {
  return containsAny(text, {"-000", "-111", "-11", "--;"});
}

std::string beforeFirstSemicolon(const std::string& text) {
  // The first field of a split at ";"; the other fields are never used, so
  // they are not cut out.
  return text.substr(0, text.find(';'));
}

std::string decipherStatement(const std::string& line) {
  return beforeFirstSemicolon(base64_decode(decipherLine(line)));
}
