// Plain string scanning for the calculator pack's modules: views into the
// texts the engine passes, so that reading a statement allocates nothing.
// The engine calls a syntax module for every form it tries, so several
// times a statement: see "Writing fast modules" in docs/modules.md for why
// the sample avoids streams and copies.
#ifndef CALCULATOR_SCAN_H_
#define CALCULATOR_SCAN_H_

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace calculator {

// The blanks that separate words (those of the "C" locale).
inline bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Takes the next word off the front of `rest`; an empty view when none is
// left.
inline std::string_view nextWord(std::string_view& rest) {
  size_t start = 0;
  while (start < rest.size() && isBlank(rest[start])) ++start;
  size_t end = start;
  while (end < rest.size() && !isBlank(rest[end])) ++end;
  const std::string_view word = rest.substr(start, end - start);
  rest.remove_prefix(end);
  return word;
}

// zelStatementOf without the copy: what follows the first ";" of a pack
// module's input, without final ";" and spaces, nor leading spaces.
inline std::string_view statementOf(std::string_view input) {
  const size_t semicolon = input.find(';');
  if (semicolon != std::string_view::npos) input.remove_prefix(semicolon + 1);
  while (!input.empty() && (input.back() == ';' || input.back() == ' ')) input.remove_suffix(1);
  const size_t start = input.find_first_not_of(' ');
  return start == std::string_view::npos ? std::string_view() : input.substr(start);
}

// What strtod reads from the front of a word.
struct Number {
  double value;
  bool none;      // no number could be read
  bool toNul;     // reading stopped at the word's end (or at a NUL byte in it)
  bool outOfRange;
};

// strtod over a word, which is not NUL-terminated: words shorter than 64
// bytes go through a buffer on the stack, so that no call allocates.
inline Number readNumber(std::string_view word) {
  char small[64];
  std::string large;
  const char* text = small;
  if (word.size() < sizeof small) {
    std::memcpy(small, word.data(), word.size());
    small[word.size()] = '\0';
  } else {
    large.assign(word);
    text = large.c_str();
  }
  char* end = nullptr;
  const int saved = errno;
  errno = 0;
  const double value = std::strtod(text, &end);
  const bool outOfRange = errno == ERANGE;
  errno = saved;
  return {value, end == text, *end == '\0', outOfRange};
}

}  // namespace calculator

#endif  // CALCULATOR_SCAN_H_
