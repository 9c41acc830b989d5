// "stop <text>": prints the text and ends the program with the stop answer.
#include <cstdio>

#include "zel_module.h"

namespace {
class Stop : public ModuleObject {
 public:
  std::string execute(std::string input) override {
    std::printf("%s\n", zelStatementOf(input).substr(5).c_str());  // after "stop "
    std::fflush(stdout);
    return ZEL_STOP_ANSWER;
  }
};
}  // namespace

ZEL_EXPORT_MODULE(Stop)
