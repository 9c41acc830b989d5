// Message lookup over an arbitrary catalogue file.
#include <cstdint>
#include <string>

#include "fuzz_app.h"
#include "lang/lang.h"
#include "entries/classic.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::makeApp();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::writeFile(fuzz::appDir() + "/node_modules/zel_linux/lang.conf", data, size);
  for (const char* number : {"1", "2", "12", "21", "35", "100"}) {
    const std::string message = goResponseLANG(number);
    if (message.size() > size * 5 + 16) __builtin_trap();  // colour codes add at most 5 bytes per 4
  }
  return 0;
}
