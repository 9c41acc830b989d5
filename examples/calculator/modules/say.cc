// "say <text>": prints the text. A module that prints answers with the empty
// text, so that the command line does not show the same line twice.
#include <cstdio>
#include <string_view>

#include "scan.h"
#include "zel_module.h"

namespace {
class Say : public ModuleObject {
 public:
  std::string execute(std::string input) override {
    const std::string_view statement = calculator::statementOf(input);
    const std::string_view text = statement.substr(4);  // after "say "
    // "%.*s" stops at a NUL byte, as printing the text as a C string would.
    std::printf("%.*s\n", static_cast<int>(text.size()), text.data());
    std::fflush(stdout);
    return "";
  }
};
}  // namespace

ZEL_EXPORT_MODULE(Say)
