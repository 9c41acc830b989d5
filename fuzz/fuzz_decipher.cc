// Deciphering then decoding arbitrary text, as the readers do with any line
// that carries a cipher marker.
#include <cstdint>
#include <string>

#include "compile/cipher.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  const std::string base64 = goDeCryptZEL(line);
  if (base64.size() > line.size()) __builtin_trap();  // deciphering never grows a text
  if (decipherLine(line) != base64) __builtin_trap();  // the copy-free entry agrees
  base64_decode(base64);
  decipherStatement(line);
  return 0;
}
