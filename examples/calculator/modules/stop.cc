// "stop <text>": prints the text and ends the program with the stop answer.
#include <cstdio>
#include <string_view>

#include "scan.h"
#include "zel_module.h"

namespace {
class Stop : public ModuleObject {
 public:
  std::string execute(std::string input) override {
    const std::string_view text = calculator::statementOf(input).substr(5);  // after "stop "
    std::printf("%.*s\n", static_cast<int>(text.size()), text.data());
    std::fflush(stdout);
    return ZEL_STOP_ANSWER;
  }
};
}  // namespace

ZEL_EXPORT_MODULE(Stop)
