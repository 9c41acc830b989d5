// Benchmark syntax module: accepts a statement whose first word is the
// pattern.
#include "zel_module.h"

class BenchSyntax : public LibModuleObject {
 public:
  std::string check(std::string pattern, std::string statement) override {
    return statement.compare(0, statement.find(' '), pattern) == 0 ? statement : "";
  }
};

ZEL_EXPORT_SYNTAX_MODULE(BenchSyntax)
