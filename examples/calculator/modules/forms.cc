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
//
// Its answer for a form whose first word is not the statement's never
// depends on the pattern, and it says so (zelOtherFormAnswer): the engine
// then offers it only the forms that begin with the statement's word.
//
// It reads both texts with views (scan.h): the engine asks it once for every
// form tried, so a statement costs several calls, and the usual answers
// ("" and the statement itself) allocate nothing.
#include <cctype>
#include <string>
#include <string_view>

#include "scan.h"
#include "zel_module.h"

namespace {

using calculator::nextWord;

std::string complainedAbout;  // the statement of the latest complaint
std::string complaint;

bool isName(std::string_view w) {
  if (w.empty() || !(std::isalpha(static_cast<unsigned char>(w[0])) || w[0] == '_')) return false;
  for (char c : w) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
  }
  return true;
}

// A whole word strtod reads, ending in a digit (so not "inf" nor "1.").
bool isNumber(std::string_view w) {
  if (w.empty()) return false;
  return calculator::readNumber(w).toNul && std::isdigit(static_cast<unsigned char>(w.back()));
}

std::string quoted(std::string_view word) {
  std::string out;
  out.reserve(word.size() + 2);
  return out.append(1, '"').append(word).append(1, '"');
}

// Why `statement` does not fit `pattern`, or "" when it does.
std::string mismatch(std::string_view pattern, std::string_view statement) {
  for (std::string_view slot = nextWord(pattern); !slot.empty(); slot = nextWord(pattern)) {
    const std::string_view w = nextWord(statement);
    if (slot == "<text>") return !w.empty() ? "" : "some text is missing at the end";
    if (w.empty()) return quoted(slot) + " is missing at the end";
    if (slot == "<name>" && !isName(w)) return quoted(w) + " is not a variable name";
    if (slot == "<number>" && !isNumber(w)) return quoted(w) + " is not a number";
    if (slot[0] != '<' && w != slot) return "expected " + quoted(slot) + ", found " + quoted(w);
  }
  const std::string_view extra = nextWord(statement);
  if (!extra.empty()) return "unexpected " + quoted(extra) + " after the statement";
  return "";
}

// The answer for a form whose first word is not the statement's.
std::string otherFormAnswer(const std::string& statement) {
  return statement == complainedAbout ? complaint : std::string();
}

class Forms : public LibModuleObject {
 public:
  std::string check(std::string pattern, std::string statement) override {
    std::string_view p = pattern, s = statement;
    const std::string_view first = nextWord(p);
    if (first.empty() || first != nextWord(s)) return otherFormAnswer(statement);
    const std::string why = mismatch(pattern, statement);
    if (why.empty()) return statement;
    complainedAbout = statement;
    complaint = "(LEX)" + why + " (the form is: " + pattern + ")";
    return complaint;
  }
};

}  // namespace

ZEL_EXPORT_SYNTAX_MODULE(Forms)
ZEL_EXPORT_OTHER_FORM_ANSWER(otherFormAnswer)
