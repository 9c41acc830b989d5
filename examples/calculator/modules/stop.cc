// "stop <text>": ends the program with the stop answer. The text is the
// reason, for whoever reads the program; the stop answer is the whole
// result, so nothing else reaches the caller (a "say" before it does), and
// nothing is written to the host's standard output.
#include "zel_module.h"

namespace {
class Stop : public ModuleObject {
 public:
  std::string execute(std::string /*input*/) override {
    return ZEL_STOP_ANSWER;
  }
};
}  // namespace

ZEL_EXPORT_MODULE(Stop)
