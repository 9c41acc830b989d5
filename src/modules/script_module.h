// Modules written in a language the host runs (JavaScript under Node.js):
// a pack module's file M.js beside where M.so would be, a syntax module's
// NAME.js in the syntax module directory. The engine finds and confines the
// file exactly as it does a shared object, then hands the call to the
// script host of the thread it runs on. The host is registered by whatever
// embeds the engine; a thread without one cannot call such modules.
#ifndef ZEL_MODULES_SCRIPT_MODULE_H_
#define ZEL_MODULES_SCRIPT_MODULE_H_

#include <functional>
#include <string>

#include "modules/file_identity.h"

// What a script module call is given: the file, as the engine found it.
struct ScriptFile {
  const std::string& path;
  const FileIdentity& identity;
};

// Runs script modules on one thread. Every answer is a string; a failure
// (the file does not load, lacks the operation, throws, gives no string)
// is `false` with a text naming the file and saying what to do.
class ScriptHost {
 public:
  virtual ~ScriptHost() = default;
  // execute(input, call) of the pack module `file`, loaded afresh when its
  // identity differs from the one it was loaded with.
  virtual bool execute(const ScriptFile& file, const std::string& input, std::string& answer) = 0;
  // check(syntaxLine, statement, call) of the syntax module `file`.
  virtual bool check(const ScriptFile& file, const std::string& syntaxLine,
                     const std::string& statement, std::string& answer) = 0;
  // Runs `task` on the thread where this host's modules run (here, unless
  // the host hands them to another); false when it cannot.
  virtual bool runWhereModulesRun(const std::function<void()>& task) {
    task();
    return true;
  }
};

// The host of the calling thread, or null.
ScriptHost* scriptHost();

// Makes `host` the calling thread's host (null: none). Returns the previous one.
ScriptHost* useScriptHost(ScriptHost* host);

// The failure text of the script module `path` called on a thread without
// a host.
std::string noScriptHostText(const std::string& path);

// True when `path` names a script module file (ends in ".js").
bool isScriptPath(const std::string& path);

// The script twin of the shared object path `path` (M.so: M.js); "" when
// `path` does not end in ".so".
std::string scriptTwinOf(const std::string& path);

#endif  // ZEL_MODULES_SCRIPT_MODULE_H_
