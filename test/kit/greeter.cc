// A pack module built with the kit alone.
#include "zel_module.h"

class Greeter : public ModuleObject {
 public:
  std::string execute(std::string input) override {
    return "hello, " + zelStatementOf(input);
  }
};

ZEL_EXPORT_MODULE(Greeter)
