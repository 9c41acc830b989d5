#include "base/text.h"

#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

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
  if (holdsNul(path)) return false;
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

bool openForReading(const std::string& path, std::ifstream& file) {
  if (holdsNul(path)) return false;
  // Opening a FIFO waits for a writer, and a device never ends: only a
  // regular file is read. The path is opened without waiting and checked on
  // the descriptor, then read through that descriptor, so a file swapped
  // for a FIFO between the check and the read cannot block the engine.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info;
  const bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  if (regular) {
    file.open("/proc/self/fd/" + std::to_string(fd), std::ios::in | std::ios::binary);
    // Without /proc, by the path just checked.
    if (!file.is_open()) file.open(path, std::ios::in | std::ios::binary);
  }
  close(fd);
  return regular && file.is_open();
}

bool holdsNul(const std::string& text) {
  return text.find('\0') != std::string::npos;
}

std::string withVisibleNul(std::string text) {
  return goReplace(std::move(text), std::string(1, '\0'), "\\0");
}

namespace {

// Calls `visit(component)` for each "/"-separated component of path, empty
// ones included.
template <class Visit>
void forEachComponent(const std::string& path, Visit visit) {
  size_t start = 0;
  while (true) {
    const size_t slash = path.find('/', start);
    visit(path.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
    if (slash == std::string::npos) return;
    start = slash + 1;
  }
}

}  // namespace

bool staysBelow(const std::string& relative) {
  if (holdsNul(relative) || (!relative.empty() && relative[0] == '/')) return false;
  int depth = 0;
  bool climbed = false;
  forEachComponent(relative, [&](const std::string& component) {
    if (component.empty() || component == ".") return;
    depth += component == ".." ? -1 : 1;
    if (depth < 0) climbed = true;
  });
  return !climbed;
}

std::string foldedPath(const std::string& path) {
  const bool absolute = !path.empty() && path[0] == '/';
  std::vector<std::string> names;
  size_t climbs = 0;
  forEachComponent(path, [&](const std::string& component) {
    if (component.empty() || component == ".") return;
    if (component != "..") {
      names.push_back(component);
    } else if (!names.empty()) {
      names.pop_back();
    } else if (!absolute) {
      ++climbs;
    }
  });
  std::string folded = absolute ? "/" : "";
  for (size_t i = 0; i < climbs; ++i) folded += "../";
  for (const std::string& name : names) folded += name + "/";
  if (folded.size() > 1) folded.pop_back();  // the last "/"
  return folded;
}

bool isPackModuleName(const std::string& name) {
  if (name.empty() || name[0] == '/' || holdsNul(name)) return false;
  bool climbs = false;
  forEachComponent(name, [&](const std::string& component) {
    if (component == "..") climbs = true;
  });
  return !climbs;
}

std::string withoutLineBreaks(std::string text) {
  if (text.find('\n') == std::string::npos && text.find('\r') == std::string::npos) return text;
  text = goReplace(std::move(text), "\n\t", "");
  text = goReplace(std::move(text), "\n", "");
  return goReplace(std::move(text), "\r", "");
}

std::string shortened(const std::string& text, size_t limit) {
  const size_t start = text.find_first_not_of(' ');
  if (start == std::string::npos) return "";
  const size_t end = text.find_last_not_of(' ') + 1;
  if (end - start <= limit) return text.substr(start, end - start);
  size_t cut = start + limit;
  // Never inside a character: a continuation byte is 10xxxxxx.
  while (cut > start && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return text.substr(start, cut - start) + "...";
}

bool containsAny(const std::string& text,
                 std::initializer_list<const char*> markers) {
  for (const char* marker : markers) {
    if (text.find(marker) != std::string::npos) return true;
  }
  return false;
}

std::string joined(std::string_view a, std::string_view b, std::string_view c) {
  std::string out(a.size() + b.size() + c.size(), '\0');
  char* at = &out[0];
  for (const std::string_view part : {a, b, c}) {
    if (part.empty()) continue;  // a default view's data is null
    std::memcpy(at, part.data(), part.size());
    at += part.size();
  }
  return out;
}
