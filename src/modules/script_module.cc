#include "modules/script_module.h"

namespace {
thread_local ScriptHost* threadHost = nullptr;

bool endsWith(const std::string& text, const char* tail, size_t length) {
  return text.size() > length && text.compare(text.size() - length, length, tail) == 0;
}
}  // namespace

ScriptHost* scriptHost() { return threadHost; }

ScriptHost* useScriptHost(ScriptHost* host) {
  ScriptHost* const before = threadHost;
  threadHost = host;
  return before;
}

std::string noScriptHostText(const std::string& path) {
  return "JavaScript module " + path +
         " cannot run on this thread: use the classic exports, or make it a shared object (.so)";
}

bool isScriptPath(const std::string& path) { return endsWith(path, ".js", 3); }

std::string scriptTwinOf(const std::string& path) {
  if (!endsWith(path, ".so", 3)) return "";
  return path.substr(0, path.size() - 3) + ".js";
}
