#include "support/text.h"

#include <string.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

namespace {

// Position of the first occurrence of pattern in text at or after `from`.
// glibc's memmem is much faster than std::string::find on texts where the
// pattern's first byte is common (code words are full of dashes).
size_t findFrom(const std::string& text, const std::string& pattern,
                size_t from) {
  if (from > text.size()) return std::string::npos;
  // memmem prepares its search first; on short texts a plain scan is faster.
  if (text.size() - from < 256) return text.find(pattern, from);
  const void* hit = memmem(text.data() + from, text.size() - from,
                           pattern.data(), pattern.size());
  return hit ? static_cast<const char*>(hit) - text.data() : std::string::npos;
}

// Count of non-overlapping occurrences, left to right.
int countOccurrences(const std::string& word, const std::string& text) {
  if (word.empty()) return 0;
  int count = 0;
  for (size_t pos = findFrom(text, word, 0); pos != std::string::npos;
       pos = findFrom(text, word, pos + word.size())) {
    ++count;
  }
  return count;
}

std::string afterLast(const std::string& text, char separator) {
  size_t pos = text.rfind(separator);
  return pos == std::string::npos ? text : text.substr(pos + 1);
}

}  // namespace

std::string goReplace(std::string text, std::string pattern,
                      std::string replacement) {
  if (pattern.empty()) return text;
  size_t pos = findFrom(text, pattern, 0);
  if (pos == std::string::npos) return text;
  // Each occurrence is handled once and the result is built in one pass:
  // splicing occurrences into the text one by one would move its tail each
  // time. A replacement no longer than the pattern is written over the text
  // itself, so the common shrinking replacements allocate nothing.
  if (replacement.size() <= pattern.size()) {
    char* data = &text[0];
    size_t write = pos;
    size_t from = pos;
    // The write position never passes `from`, so what is still to be
    // searched is never overwritten.
    while (pos != std::string::npos) {
      std::memmove(data + write, data + from, pos - from);
      write += pos - from;
      std::memcpy(data + write, replacement.data(), replacement.size());
      write += replacement.size();
      from = pos + pattern.size();
      pos = findFrom(text, pattern, from);
    }
    std::memmove(data + write, data + from, text.size() - from);
    text.resize(write + text.size() - from);
    return text;
  }
  std::string out;
  out.reserve(text.size() + replacement.size() - pattern.size());
  size_t from = 0;
  while (pos != std::string::npos) {
    out.append(text, from, pos - from);
    out += replacement;
    from = pos + pattern.size();
    pos = findFrom(text, pattern, from);
  }
  out.append(text, from, std::string::npos);
  return out;
}

std::string goReplaceFirstString(std::string text, std::string pattern,
                                 std::string replacement) {
  size_t pos = text.find(pattern);
  if (pos != std::string::npos) text.replace(pos, pattern.size(), replacement);
  return text;
}

std::string MyLastIndexOfSlash(const std::string& text) {
  return afterLast(text, '/');
}

std::string MyLastIndexOfParam(const std::string& text) {
  return afterLast(text, '(');
}

std::string MyFirstIndexOf(const std::string& text, std::string set) {
  size_t pos = text.find_first_of(set.c_str());
  return pos == std::string::npos ? text : text.substr(pos + 1);
}

std::string goGetSizeWORD(std::string word, std::string text) {
  return std::to_string(countOccurrences(word, text));
}

int goGetSizeWORDINT(std::string word, std::string text) {
  return countOccurrences(word, text);
}

bool IsPathExist(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

bool openForReading(const std::string& path, std::ifstream& file) {
  struct stat info;
  if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return false;
  file.open(path, std::ios::in | std::ios::binary);
  return file.is_open();
}

std::string withoutLineBreaks(std::string text) {
  if (text.find('\n') == std::string::npos && text.find('\r') == std::string::npos) return text;
  text = goReplace(std::move(text), "\n\t", "");
  text = goReplace(std::move(text), "\n", "");
  return goReplace(std::move(text), "\r", "");
}

bool containsAny(const std::string& text,
                 std::initializer_list<const char*> markers) {
  for (const char* marker : markers) {
    if (text.find(marker) != std::string::npos) return true;
  }
  return false;
}
