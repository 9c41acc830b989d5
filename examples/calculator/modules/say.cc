// "say <text>": prints the text. A module that prints answers with the empty
// text, so that the command line does not show the same line twice.
#include <cstdio>

#include "zel_module.h"

namespace {
class Say : public ModuleObject {
 public:
  std::string execute(std::string input) override {
    const std::string text = zelStatementOf(input).substr(4);  // after "say "
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
    return "";
  }
};
}  // namespace

ZEL_EXPORT_MODULE(Say)
