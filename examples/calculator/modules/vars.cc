// Variables of the calculator pack: "set", "add", "multiply" and "show".
// "show" prints the variable; the others answer with the new value.
// The values live in the module's static data, so they last from one
// statement to the next (and from one program to the next in one process).
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "zel_module.h"

namespace {

std::map<std::string, double> variables;

std::string format(double value) {
  std::ostringstream out;
  out.precision(15);
  out << value;
  return out.str();
}

class Vars : public ModuleObject {
 public:
  // The statement has already been checked by the syntax module, so its
  // words are where the form puts them.
  std::string execute(std::string input) override {
    std::istringstream in(zelStatementOf(input));
    std::vector<std::string> w;
    for (std::string word; in >> word;) w.push_back(word);
    const std::string& verb = w[0];
    if (verb == "set") return assign(w[1], std::stod(w[3]));       // set x to 1
    if (verb == "show") return show(w[1]);                         // show x
    const std::string& name = verb == "add" ? w[3] : w[1];
    if (variables.count(name) == 0) return "unknown variable " + name;
    if (verb == "add") return assign(name, variables[name] + std::stod(w[1]));
    return assign(name, variables[name] * std::stod(w[3]));        // multiply x by 2
  }

 private:
  static std::string assign(const std::string& name, double value) {
    variables[name] = value;
    return name + " = " + format(value);
  }
  static std::string show(const std::string& name) {
    const std::string text = variables.count(name) ? name + " = " + format(variables[name])
                                                   : "unknown variable " + name;
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
    return "";
  }
};

}  // namespace

ZEL_EXPORT_MODULE(Vars)
