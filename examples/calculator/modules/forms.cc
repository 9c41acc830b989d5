// Syntax module of the calculator pack: decides whether a statement has the
// form a pattern describes. A pattern is words and typed slots:
//   <text>    one or more words (only as the last slot)
//   <name>    a variable name: a letter or "_", then letters, digits, "_"
//   <number>  a decimal number, such as 42, -7 or 1.5
// Any other word must be typed as it is.
//
// Answers, as the engine expects them:
//   - the statement itself when it has the form;
//   - "(LEX)" and a description when it starts with the pattern's first word
//     but does not fit the rest;
//   - "" (no opinion) when it starts with another word.
// The engine reports the answer given for the last form it tried, so once a
// statement has drawn a complaint, the module repeats that complaint for the
// later forms of the same statement instead of falling silent.
#include <cctype>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "zel_module.h"

namespace {

std::string complainedAbout;  // the statement of the latest complaint
std::string complaint;

std::vector<std::string> words(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

bool isName(const std::string& w) {
  if (w.empty() || !(std::isalpha(static_cast<unsigned char>(w[0])) || w[0] == '_')) return false;
  for (char c : w) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
  }
  return true;
}

bool isNumber(const std::string& w) {
  if (w.empty()) return false;
  char* end = nullptr;
  std::strtod(w.c_str(), &end);
  return *end == '\0' && (std::isdigit(static_cast<unsigned char>(w.back())) != 0);
}

// Why `statement` does not fit `pattern`, or "" when it does.
std::string mismatch(const std::vector<std::string>& pattern,
                     const std::vector<std::string>& statement) {
  size_t i = 0;
  for (; i < pattern.size(); ++i) {
    const std::string& slot = pattern[i];
    if (slot == "<text>") return i < statement.size() ? "" : "some text is missing at the end";
    if (i >= statement.size()) return "\"" + slot + "\" is missing at the end";
    const std::string& w = statement[i];
    if (slot == "<name>" && !isName(w)) return "\"" + w + "\" is not a variable name";
    if (slot == "<number>" && !isNumber(w)) return "\"" + w + "\" is not a number";
    if (slot[0] != '<' && w != slot) return "expected \"" + slot + "\", found \"" + w + "\"";
  }
  if (i < statement.size()) return "unexpected \"" + statement[i] + "\" after the statement";
  return "";
}

class Forms : public LibModuleObject {
 public:
  std::string check(std::string pattern, std::string statement) override {
    const std::vector<std::string> p = words(pattern);
    const std::vector<std::string> s = words(statement);
    if (p.empty() || s.empty() || s[0] != p[0]) {
      return statement == complainedAbout ? complaint : "";
    }
    const std::string why = mismatch(p, s);
    if (why.empty()) return statement;
    complainedAbout = statement;
    complaint = "(LEX)" + why + " (the form is: " + pattern + ")";
    return complaint;
  }
};

}  // namespace

ZEL_EXPORT_SYNTAX_MODULE(Forms)
