// Encode, encipher, decipher and decode arbitrary bytes: a compiled line
// must read back as exactly the bytes it was written from.
#include <cstdint>
#include <string>

#include "compile/cipher.h"
#include "base/state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  ErrorEnCrypt = false;
  const std::string compiled = goEnCryptZEL(goBase64(bytes)) + "-;";
  const bool compilable = size == 0 || size >= 13 || bytes == "\r";
  if (ErrorEnCrypt == compilable) __builtin_trap();
  if (compilable && base64_decode(goDeCryptZEL(compiled)) != bytes) __builtin_trap();
  return 0;
}
