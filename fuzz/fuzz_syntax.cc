// Matching statements against an arbitrary syntax file, with a real syntax
// module asked about every form.
#include <cstdint>
#include <string>

#include "fuzz_app.h"
#include "syntax/syntax_match.h"
#include "syntax/syntax_search.h"
#include "entries/classic.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::makeApp();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzz::appDir() + "/node_modules/fuzzed.zel";
  fuzz::writeFile(path, data, size);
  for (const char* statement : {"print x;", "nm (ZE) y;", "lex z;", "(ZE)"}) {
    goOpenSyntaxes(path, statement, "1");
    goVerifySyntaxesAll("*.*", statement, "1");
  }
  return 0;
}
