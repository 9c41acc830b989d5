// A scratch application shared by the fuzz targets: catalogue, a syntax
// module that accepts statements whose first word is the form's, and a pack
// module that echoes. Its stop answer is a text no fixture module returns,
// so no input can end the fuzzer's process.
#ifndef ZEL_FUZZ_FUZZ_APP_H_
#define ZEL_FUZZ_FUZZ_APP_H_

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "cache/watch.h"
#include "base/state.h"

namespace fuzz {

inline std::string& appDir() {
  static std::string dir;
  return dir;
}

// The directory holding the application, removed when the fuzzer ends.
inline std::string& rootDir() {
  static std::string dir;
  return dir;
}

// Writes an input file. The targets call engine functions outside a call,
// so the next look is told to check for changes as a call's start would.
inline void writeFile(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  markCheckDue();
}

inline void writeFile(const std::string& path, const std::string& text) {
  writeFile(path, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// Builds the application once per fuzzing process, in ROOT/app with ROOT
// on a memory file system where there is one, so that writing the inputs
// costs little.
inline void makeApp() {
  namespace fs = std::filesystem;
  const fs::path base = access("/dev/shm", W_OK) == 0 ? fs::path("/dev/shm") : fs::temp_directory_path();
  std::string pattern = (base / "zel-fuzz-XXXXXX").string();
  rootDir() = mkdtemp(pattern.data());
  std::atexit([] {
    std::error_code ignored;
    fs::remove_all(rootDir(), ignored);
  });
  appDir() = rootDir() + "/app";
  const fs::path modules = fs::path(appDir()) / "node_modules";
  for (const char* dir : {"zel_linux", "korrin_linux", "calc"}) fs::create_directories(modules / dir);
  writeFile((modules / "zel_linux/lang.conf").string(),
            ":1:M1 :E1:\n:2:M2 :E1:\n:3:M3 :E1:\n:4:M4 :E1:\n:12:M12\n:14:M14 :E1:\n"
            ":18:M18 :E1:\n:19:M19\n:20:M20\n:21:<<never returned by a fixture>>\n");
  fs::copy_file(std::string(ZEL_FIXTURE_DIR) + "/keyword_syntax.so",
                modules / "korrin_linux/keyword_syntax.so");
  fs::copy_file(std::string(ZEL_FIXTURE_DIR) + "/echo_module.so", modules / "calc/printer.so");
  writeFile((modules / "calc.zel").string(), "print (printer)\nsay (printer)\nnm (printer)\n");
  myAbsolutePathDirApp = appDir();
}

}  // namespace fuzz

#endif  // ZEL_FUZZ_FUZZ_APP_H_
