// Loading and calling one module.
//
// Each call: tests that the file is a regular file that can be opened,
// loads it with dlopen (RTLD_LAZY) by its real path (links resolved; a file
// replaced by rename since it was loaded is loaded afresh, the earlier one
// staying mapped), looks up "create" and "destroy", creates an object, calls
// its operation once and destroys that same object (held by the call, so a
// module may call back into the engine). Shared objects are never unloaded,
// so a module's static data lives for the whole process. Once loaded, the
// module and the libraries loaded with it no longer depend on their files
// (private_image.h). Failures come back
// as texts, not errors: message "4" with the path when the file cannot be
// opened, is not a regular file or its path holds a NUL byte (shown as
// "\0"); a text naming the module when its file was written over in place
// (same inode, another size or modification time) after this process loaded
// it; otherwise the loader's own error text. An exception thrown by the
// module's operation propagates to the caller (noted with the module's path,
// modules/running_module.h) and the object is not destroyed.
#ifndef ZEL_MODULES_MODULE_CALL_H_
#define ZEL_MODULES_MODULE_CALL_H_

#include <new>
#include <string>
#include <string_view>

#include "modules/running_module.h"
#include "modules/zel_module.h"

// What one module call gave.
struct ModuleAnswer {
  enum Kind {
    kAnswered,    // the module's operation ran; text is its answer
    kUnreadable,  // the file cannot be opened (or is no regular file); text is ""
    kRefused,     // not called: text is the loader's text, or the engine's
  } kind;
  std::string text;
};

// What loading a module's file gave (the existence test, the handle and
// entries, or the loader's text), kept for one disk generation.
struct LoadedModule;

// The module file at `path` (of the application `app`) as a call in the
// current statement sees it. Looking a syntax module up once and calling it
// through the result below saves the lookup per call; the result stays
// valid until the statement ends.
const LoadedModule& loadedModule(const std::string& app, const std::string& path);

// True when `module` was kept for the current disk generation; when false
// it must be looked up again for each call.
bool isCached(const LoadedModule& module);

// The module paths given to the calls below name the module in a crash or
// throw report; each must stay unchanged until the call returns, even when
// the module calls back into the engine (the caller holds it).

// Runs a pack module of the application `app`: execute(input) of a fresh
// object from the shared object at modulePath.
ModuleAnswer callPackModule(const std::string& app, const std::string& modulePath,
                            const std::string& input);
// The same for a module already looked up with loadedModule(app, modulePath).
ModuleAnswer callPackModule(const LoadedModule& module, const std::string& modulePath,
                            const std::string& input);
// The same with the answer's text built in place of `answer` (emptied when
// the module throws), without an answer object built and moved. `answer`
// is destroyed before the module runs: it must not be `input`.
ModuleAnswer::Kind callPackModule(const LoadedModule& module, const std::string& modulePath,
                                  const std::string& input, std::string& answer);

// Asks a syntax module already looked up with loadedModule: check(syntaxLine,
// statement) of a fresh object.
ModuleAnswer askSyntaxModule(const LoadedModule& module, const std::string& libPath,
                             const std::string& syntaxLine, const std::string& statement);
// The same with the answer's text built in place of `answer` (the text a
// ModuleAnswer would hold; emptied when the module throws, and not one of
// the texts passed in): no answer object is built and moved, as on the
// path of every form.
ModuleAnswer::Kind askSyntaxModule(const LoadedModule& module, const std::string& libPath,
                                   const std::string& syntaxLine, const std::string& statement,
                                   std::string& answer);

// The entries of a native syntax module, so that a match asking it about
// many forms calls it without going through the module record each time.
// Null entries for a module that cannot be called so (a script module, a
// file not readable or not loaded, an entry missing): askSyntaxModule above
// is called for it instead, and gives the refusal.
struct SyntaxEntries {
  create_lib_t* create = nullptr;
  destroy_lib_t* destroy = nullptr;
};
SyntaxEntries syntaxEntries(const LoadedModule& module);

// The refusal of a module whose create() gave no object.
std::string noObjectText(const std::string& path);

// A call of a syntax module through its entries (askThroughEntries below),
// at little cost a call, for a match that offers a statement to many
// modules: the module named as running (moduleInCall) goes back to
// `outer`, which the caller read once before its calls (each call, nested
// ones included, puts back what it found), and the answer is built in the
// place of `answer` instead of being moved there (left empty when the
// module throws; destroyed before the call, so it must not be one of the
// texts passed in).
inline ModuleAnswer::Kind checkInPlace(const SyntaxEntries& entries, const std::string& libPath,
                                       const char* outer, const std::string& syntaxLine,
                                       std::string_view statement, std::string& answer) {
  moduleInCall.store(libPath.c_str(), std::memory_order_relaxed);  // for a crash report
  LibModuleObject* const object = entries.create();
  if (object == nullptr) {
    moduleInCall.store(outer, std::memory_order_relaxed);
    answer = noObjectText(libPath);
    return ModuleAnswer::kRefused;
  }
  answer.~basic_string();
  try {
    new (&answer) std::string(object->check(syntaxLine, std::string(statement)));
  } catch (...) {
    new (&answer) std::string();
    moduleInCall.store(outer, std::memory_order_relaxed);
    noteThrowingModule(libPath);
    throw;
  }
  entries.destroy(object);
  moduleInCall.store(outer, std::memory_order_relaxed);
  return ModuleAnswer::kAnswered;
}

// askSyntaxModule(module, ...) for a module whose syntaxEntries are not
// null, with the same answers, reports and exception: check(syntaxLine,
// statement) of a fresh object built in place of `answer`.
inline ModuleAnswer::Kind askThroughEntries(const SyntaxEntries& entries, const std::string& libPath,
                                            const std::string& syntaxLine,
                                            std::string_view statement, std::string& answer) {
  return checkInPlace(entries, libPath, moduleInCall.load(std::memory_order_relaxed), syntaxLine,
                      statement, answer);
}

// True when the syntax module `module` declares what it answers for a form
// whose first word differs from the statement's (zelOtherFormAnswer in
// zel_module.h); such forms need not be offered to it.
bool declaresOtherFormAnswer(const LoadedModule& module);

// That answer for `statement` (as check would get it) from a module that
// declares it. An exception is noted with the module's path, as check's is.
std::string otherFormAnswer(const LoadedModule& module, const std::string& libPath,
                            const std::string& statement);

// Has `hook` run after each shared object this process maps for a module,
// before the module's first call. The engine thread registers its exit
// handler again there, so that it runs before the static destructors the
// module has just registered.
void setModuleMappedHook(void (*hook)());

#endif  // ZEL_MODULES_MODULE_CALL_H_
