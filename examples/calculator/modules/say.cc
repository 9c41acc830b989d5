// "say <text>": answers with the text, which becomes the statement's
// result: the caller sees it (a promise or pool call's `results`, each line
// "zel run" prints), and nothing is written to the host's standard output.
#include <string>
#include <string_view>

#include "scan.h"
#include "zel_module.h"

namespace {
class Say : public ModuleObject {
 public:
  std::string execute(std::string input) override {
    const std::string_view statement = calculator::statementOf(input);
    return std::string(statement.substr(4));  // after "say "
  }
};
}  // namespace

ZEL_EXPORT_MODULE(Say)
