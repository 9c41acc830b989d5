#include "support/lang.h"

#include <fstream>

#include "support/text.h"
#include "zel/state.h"

namespace {

// Turns a catalogue line into the finished message. The order matters: line
// breaks made from ":EE:" come after the removal of stray ones, and colour
// codes go in only after the key is gone.
std::string expand(std::string text, const std::string& key) {
  text = goReplace(std::move(text), "\n\t", "");
  text = goReplace(std::move(text), "\n", "");
  text = goReplace(std::move(text), "\r", "");
  text = goReplace(std::move(text), ":EE:", "\n");
  text = goReplace(std::move(text), key, "");
  text = goReplace(std::move(text), ":A1:", "\x1b[32m");
  text = goReplace(std::move(text), ":A2:", "\x1b[0m");
  text = goReplace(std::move(text), ":B1:", "\x1b[31m");
  return text;
}

}  // namespace

std::string catalogPath() {
  return myAbsolutePathDirApp + "/node_modules/zel_linux/lang.conf";
}

std::string catalogFailureText() {
  return "Lecture des reponses impossible (LANG).\n    ->" + catalogPath();
}

std::string goResponseLANG(std::string number) {
  std::ifstream file(catalogPath(), std::ios::in | std::ios::binary);
  if (!file.is_open()) return catalogFailureText();
  const std::string key = ":" + number + ":";
  while (std::getline(file, lineLang)) {
    if (lineLang.empty() || lineLang == "-;") continue;
    if (lineLang.find(key) == std::string::npos) continue;
    return expand(lineLang, key);
  }
  return "";
}
