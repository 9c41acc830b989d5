// Variables of the calculator pack: "set", "add", "multiply" and "show".
// "show" answers with the variable's value, the others with its new value;
// nothing is written to the host's standard output. A number typed or
// computed beyond the range of a double (about 1.8e308 either way) is
// refused with a text that says so, and the variable keeps its value: the
// module never throws on what a user wrote.
// The values are the call's state (zelCallState, zel_module.h): they last
// from one statement to the next of one program or promise call, and are
// freed when it ends, so that two callers never see each other's; under the
// classic exports they last as long as the process. The engine makes a new
// module object for every statement.
//
// The statement is read with views (scan.h) and numbers are written with
// std::to_chars, which gives the texts "%.15g" gives in the "C" locale, so
// that a statement allocates nothing but its answer (and a variable's name
// the first time it is set).
#include <charconv>
#include <cmath>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "scan.h"
#include "zel_module.h"

namespace {

using calculator::nextWord;

// std::less<> lets a view look a name up without making a string of it.
using Variables = std::map<std::string, double, std::less<>>;

// "name = value", the value with 15 significant digits.
std::string valueText(std::string_view name, double value) {
  char digits[32];
  const std::to_chars_result end =
      std::to_chars(digits, digits + sizeof digits, value, std::chars_format::general, 15);
  std::string text;
  text.reserve(name.size() + 3 + (end.ptr - digits));
  return text.append(name).append(" = ").append(digits, end.ptr);
}

std::string unknown(std::string_view name) {
  return std::string("unknown variable ").append(name);
}

constexpr const char* kOutOfRange =
    " is out of range: the calculator's numbers go from about -1.8e308 to 1.8e308";

// Reads the number `word` into `value`. Returns the answer refusing it, or
// "" when it is a number the calculator holds (a finite one).
std::string readInto(std::string_view word, double& value) {
  const calculator::Number number = calculator::readNumber(word);
  value = number.value;
  if (!number.none && std::isfinite(value)) return std::string();
  const std::string quoted = std::string("\"").append(word).append("\"");
  return number.none ? quoted + " is not a number" : quoted + kOutOfRange;
}

// Sets the variable `name` to `value`, unless `value` is out of range.
std::string assign(Variables& variables, std::string_view name, double value) {
  if (!std::isfinite(value)) return std::string("the new value of ").append(name) + kOutOfRange;
  const auto found = variables.find(name);
  if (found != variables.end()) {
    found->second = value;
  } else {
    variables.emplace(std::string(name), value);
  }
  return valueText(name, value);
}

std::string show(const Variables& variables, std::string_view name) {
  const auto found = variables.find(name);
  return found != variables.end() ? valueText(name, found->second) : unknown(name);
}

class Vars : public ModuleObject {
 public:
  // The statement has already been checked by the syntax module, so its
  // words are where the form puts them.
  std::string execute(std::string input) override {
    std::string_view rest = calculator::statementOf(input);
    std::string_view w[4];
    for (std::string_view& word : w) word = nextWord(rest);
    const std::string_view verb = w[0];
    Variables& variables = zelCallState<Variables>();
    if (verb == "show") return show(variables, w[1]);  // show x
    double number = 0;
    if (verb == "set") {                               // set x to 1
      std::string refusal = readInto(w[3], number);
      return refusal.empty() ? assign(variables, w[1], number) : refusal;
    }
    const std::string_view name = verb == "add" ? w[3] : w[1];
    const auto found = variables.find(name);
    if (found == variables.end()) return unknown(name);
    std::string refusal = readInto(verb == "add" ? w[1] : w[3], number);
    if (!refusal.empty()) return refusal;
    // add 1 to x; multiply x by 2
    return assign(variables, name, verb == "add" ? found->second + number : found->second * number);
  }
};

}  // namespace

ZEL_EXPORT_MODULE(Vars)
