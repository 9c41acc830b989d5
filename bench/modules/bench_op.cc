// Benchmark pack module: answers at once.
#include "zel_module.h"

class BenchOp : public ModuleObject {
 public:
  std::string execute(std::string input) override { return input.empty() ? "" : "ok"; }
};

ZEL_EXPORT_MODULE(BenchOp)
