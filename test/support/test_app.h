// A scratch application directory with its node_modules laid out as the
// engine expects: catalogue, syntax modules, packs and their modules.
#ifndef ZEL_TEST_SUPPORT_TEST_APP_H_
#define ZEL_TEST_SUPPORT_TEST_APP_H_

#include <dlfcn.h>

#include <filesystem>
#include <string>

#include "compile/cipher.h"
#include "support/temp_dir.h"

// A source line as the compiler writes it.
inline std::string compiled(const std::string& source) {
  return goEnCryptZEL(goBase64(source)) + "-;";
}

// A catalogue whose messages are easy to recognise in results.
inline const char* kTestCatalog =
    ":1:M1 :E1:\n:2:M2 :E1:\n:3:M3 :E1:\n:4:M4 :E1:\n:9:M9\n:10:M10\n"
    ":11:M11 :E1:\n:12:M12\n:14:M14 :E1:\n:18:M18 :E1:\n:19:M19\n:20:M20\n"
    ":21:STOP-NOW\n:35:M35\n";

// One row of a table test: a text in, the text expected out.
struct TextCase {
  const char* input;
  const char* expected;
};

class TestApp : public TempDir {
 public:
  TestApp() { write("node_modules/zel_linux/lang.conf", kTestCatalog); }

  std::string modules() const { return path() + "/node_modules/"; }
  std::string syntaxModuleDir() const { return modules() + "korrin_linux/"; }

  // Copies a fixture module to the full path `target`. A copy is a file of
  // its own, so its static data starts fresh.
  static void copy(const std::string& fixture, const std::string& target) {
    std::filesystem::create_directories(std::filesystem::path(target).parent_path());
    std::filesystem::copy_file(std::string(ZEL_FIXTURE_DIR) + "/" + fixture + ".so", target,
                               std::filesystem::copy_options::overwrite_existing);
  }
  // Copies a fixture module into place in this application.
  std::string install(const std::string& fixture, const std::string& relative) const {
    const std::string target = path() + "/" + relative;
    copy(fixture, target);
    return target;
  }
  std::string installSyntaxModule(const std::string& fixture) const {
    return install(fixture, "node_modules/korrin_linux/" + fixture + ".so");
  }
  std::string installPackModule(const std::string& pack, const std::string& fixture,
                                const std::string& name) const {
    return install(fixture, "node_modules/" + pack + "/" + name + ".so");
  }
  std::string syntaxFile(const std::string& pack, const std::string& content) const {
    return write("node_modules/" + pack + ".zel", content);
  }

  // The log of the keyword_syntax module installed in this application.
  std::string keywordCalls() const {
    void* h = dlopen((syntaxModuleDir() + "keyword_syntax.so").c_str(), RTLD_LAZY);
    if (h == nullptr) return "<not loaded>";
    auto calls = reinterpret_cast<const char* (*)()>(dlsym(h, "fixture_calls"));
    return calls ? calls() : "<no log>";
  }
};

#endif  // ZEL_TEST_SUPPORT_TEST_APP_H_
