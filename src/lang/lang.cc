#include "lang/lang.h"

#include <fstream>
#include <unordered_map>
#include <vector>

#include "cache/disk_cache.h"
#include "base/text.h"
#include "base/state.h"

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

std::string catalogPathOf(const std::string& app) {
  return joined(app, "/node_modules/zel_linux/lang.conf");
}

std::string catalogFailureText(const std::string& catalog) {
  return "Lecture des reponses impossible (LANG).\n    ->" + catalog;
}

namespace {

// The catalogue as last read, and the messages looked up in it so far.
struct CatalogCache {
  uint64_t generation = 0;
  bool opened = false;
  std::vector<std::string> lines;
  std::unordered_map<std::string, std::string> messages;
};

// The catalogue at `path`, read afresh unless the cached copy is still valid.
CatalogCache& catalog(const std::string& app, const std::string& path) {
  static auto* cache = new DiskCache<CatalogCache>(kCachedApplications);
  return cachedEntry(*cache, app, path, false, [&](CatalogCache& entry) {
    std::ifstream file;
    entry.opened = openForReading(path, file);
    for (std::string text; std::getline(file, text);) entry.lines.push_back(std::move(text));
  });
}

}  // namespace

const std::string* cachedMessage(const std::string& app, const std::string& catalogFile,
                                 const std::string& number, bool* lasting) {
  CatalogCache& cache = catalog(app, catalogFile);
  if (lasting != nullptr) *lasting = cache.generation != 0;
  if (!cache.opened) return nullptr;
  const auto known = cache.messages.find(number);
  if (known != cache.messages.end()) return &known->second;
  const std::string key = ":" + number + ":";
  std::string message;
  for (const std::string& line : cache.lines) {
    if (line.empty() || line == "-;") continue;
    if (line.find(key) == std::string::npos) continue;
    lineLang = line;
    message = expand(line, key);
    break;
  }
  return &cache.messages.emplace(number, std::move(message)).first->second;
}

bool lookupMessage(const std::string& app, const std::string& catalogFile,
                   const std::string& number, std::string& text) {
  const std::string* message = cachedMessage(app, catalogFile, number);
  text = message != nullptr ? *message : catalogFailureText(catalogFile);
  return message != nullptr;
}

