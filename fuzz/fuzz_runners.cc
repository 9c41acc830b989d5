// The script runner, the compiled program runner and the execution driver
// over an arbitrary program file, with real modules.
#include <cstdint>
#include <string>

#include "exec/runners.h"
#include "fuzz_app.h"
#include "zel/zel.h"
#include "entries/classic.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::makeApp();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string program = fuzz::appDir() + "/program";
  const std::string syntax = fuzz::appDir() + "/node_modules/calc.zel";
  fuzz::writeFile(program, data, size);
  resultat.clear();
  goLoadScript(program, syntax);
  goLoadZEL(program, syntax);
  CallZEL_Executer(fuzz::appDir(), program);
  return 0;
}
