// "say <text>": answers with the text, which becomes the statement's
// result: the caller sees it (a promise or pool call's `results`, each line
// "zel run" prints), and nothing is written to the host's standard output.
// The text is the user's: when it is the stop answer, which would end the
// run (and under the classic exports the host), a note is said instead.
#include <string>
#include <string_view>

#include "scan.h"
#include "zel_module.h"

namespace {
constexpr const char* kNotSaid = "say: that text is the stop answer, which only stop gives";

class Say : public ModuleObject {
 public:
  std::string execute(std::string input) override {
    const std::string_view statement = calculator::statementOf(input);
    const std::string_view text = statement.substr(4);  // after "say "
    if (text == ZEL_STOP_ANSWER) return kNotSaid;
    return std::string(text);
  }
};
}  // namespace

ZEL_EXPORT_MODULE(Say)
