#include "modules/module_call.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <unordered_map>
#include <vector>

#include "modules/call_state.h"
#include "modules/file_identity.h"
#include "modules/private_image.h"
#include "modules/running_module.h"
#include "modules/script_module.h"

#include "cache/disk_cache.h"
#include "lang/lang.h"
#include "base/text.h"
#include "base/state.h"

namespace {

std::string loaderError() {
  const char* error = dlerror();
  return error ? error : "";
}

}  // namespace

// The module is loaded once per disk generation, not looked up again for
// every call.
struct LoadedModule {
  uint64_t generation = 0;
  bool readable = false;   // the existence test
  void* handle = nullptr;  // null when loading failed
  void* create = nullptr;
  void* destroy = nullptr;
  void* otherForms = nullptr;  // a syntax module's zelOtherFormAnswer, when it has one
  std::string error;       // the loader's text when loading or a lookup failed
  std::string script;      // a script module's file (modules/script_module.h), or ""
  FileIdentity scriptIdentity{};
};

namespace {

// The module file at one path as the loader last mapped it, and how many
// files have been mapped from that path before.
struct MappedFile {
  FileIdentity identity;
  int version;
};

// Every module path loaded so far, by the path handed to the loader. Kept
// for the process: a shared object is never unloaded.
std::unordered_map<std::string, MappedFile>& mappedFiles() {
  static auto* files = new std::unordered_map<std::string, MappedFile>;
  return *files;
}

std::string changedOnDiskText(const std::string& path) {
  return "Module " + path +
         " changed on disk after this process loaded it, so it is not called: a new process, "
         "or replacing the file by rename (install, or mv from a temporary name), picks the "
         "new version up";
}

void (*mappedHook)() = nullptr;

// The path handed to the loader, by which what it mapped is recorded: the
// file's real path. The loader hands back an object already loaded under
// the same name, so a release switched through a symbolic link would
// otherwise keep the old release's module.
std::string realPathOf(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  const std::string opened = real != nullptr ? real : path;
  std::free(real);
  return opened;
}

// The version of the file at `opened` the loader gets (see loaderName): a
// file replaced by rename since it was mapped is a new version. -1 for a
// file written over in place: the loader matches the file by its inode and
// would give back the object it mapped, which no longer matches what the
// file holds (its symbols are not the file's).
int versionOf(const std::string& opened, const FileIdentity& identity) {
  const auto known = mappedFiles().find(opened);
  if (known == mappedFiles().end()) return 0;
  const MappedFile& mapped = known->second;
  if (!sameInode(mapped.identity, identity)) return mapped.version + 1;  // replaced by rename
  return sameFile(mapped.identity, identity) ? mapped.version : -1;
}

// Maps the module under the loader name `name`, its pages made its own (the
// module and the libraries it brought no longer depend on their files;
// objects the process had before are left as they are). Keeps `fd` open
// when this call mapped the module: the loader knows a file by its inode,
// and the module's private pages need not hold their file, so the inode of
// a removed module could otherwise go to the next file installed, which the
// loader would take for the module it already mapped. False, with the
// loader's text, when it cannot be loaded.
bool mapModule(const std::string& name, int fd, LoadedModule& module) {
  // Whether this call maps the module, or the process already had it (a
  // library linked in, say).
  void* loadedBefore = dlopen(name.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (loadedBefore != nullptr) dlclose(loadedBefore);  // drops the reference just taken
  const LoadSnapshot before = snapshotBeforeLoad();
  module.handle = dlopen(name.c_str(), RTLD_LAZY);
  if (module.handle == nullptr) {
    module.error = loaderError();
    close(fd);
    return false;
  }
  privatizeLoadedSince(before);
  if (loadedBefore != nullptr) {
    close(fd);
  } else if (mappedHook != nullptr) {
    mappedHook();
  }
  return true;
}

// Looks the entries "create" and "destroy" up; the loader's text when one
// is missing. A module that takes per-call state (zel_call_state_api) is
// handed the engine's side of it.
void resolveEntries(LoadedModule& module) {
  for (void** entry : {&module.create, &module.destroy}) {
    dlerror();
    *entry = dlsym(module.handle, entry == &module.create ? "create" : "destroy");
    if (*entry == nullptr) {
      module.error = loaderError();
      return;
    }
  }
  // Optional: a module without it is asked about every form.
  module.otherForms = dlsym(module.handle, "zelOtherFormAnswer");
  using TakeApi = void(const ZelCallStateApi*);
  if (void* take = dlsym(module.handle, "zel_call_state_api")) {
    reinterpret_cast<TakeApi*>(take)(callStateApi());
  }
}

// The existence test of a script module's file; its host loads it at the
// call, in the thread's own environment.
void findScript(const std::string& path, LoadedModule& module) {
  FileIdentity identity;
  const int fd = path.empty() ? -1 : openModuleFile(path, identity);
  if (fd < 0) return;
  close(fd);
  module.readable = true;
  module.script = path;
  module.scriptIdentity = identity;
}

// Runs the existence test, loads and resolves, as a call would. A pack
// module without its shared object may be a script beside it.
void load(const std::string& path, LoadedModule& module) {
  if (isScriptPath(path)) return findScript(path, module);
  FileIdentity identity;
  const int fd = openModuleFile(path, identity);
  module.readable = fd >= 0;
  if (!module.readable) return findScript(scriptTwinOf(path), module);
  const std::string opened = realPathOf(path);
  const int version = versionOf(opened, identity);
  if (version < 0) {
    module.error = changedOnDiskText(path);
    close(fd);
    return;
  }
  // Static data and constructors run while the module is mapped: a crash
  // there names the module as a crash in its operation does.
  const RunningModule running(path);
  if (!mapModule(loaderName(opened, version), fd, module)) return;
  mappedFiles()[opened] = {identity, version};
  resolveEntries(module);
}

ModuleAnswer::Kind refused(std::string why, std::string& text) {
  text = std::move(why);
  return ModuleAnswer::kRefused;
}

// Calls a script module through the thread's host: `operate(host, file)`
// gives true with the answer, or false with the failure text.
template <class Operate>
ModuleAnswer::Kind callScript(const LoadedModule& module, Operate operate, std::string& text) {
  ScriptHost* const host = scriptHost();
  if (host == nullptr) return refused(noScriptHostText(module.script), text);
  const ScriptFile file{module.script, module.scriptIdentity};
  return operate(*host, file) ? ModuleAnswer::kAnswered : ModuleAnswer::kRefused;
}

// The steps shared by both kinds of module; `operate` calls the object's
// operation.
//
// The call holds its own object and destroy entry: a module that calls back
// into the engine during its operation may have the cached entry rebuilt,
// and reading it back would destroy the nested call's object a second time. `path`, by which a
// throw or a crash of the module is reported, must stay as it is until the
// call returns, whatever a nested call does (the callers hold it).
template <class Object, class Operate>
ModuleAnswer::Kind loadAndCall(const LoadedModule& module, const std::string& path,
                               Operate operate, std::string& text) {
  if (!module.readable) {
    text.clear();
    return ModuleAnswer::kUnreadable;
  }
  if (module.handle == nullptr) return refused(module.error, text);
  const auto create = reinterpret_cast<Object* (*)()>(module.create);
  if (create == nullptr) return refused(module.error, text);
  const auto destroy = reinterpret_cast<void (*)(Object*)>(module.destroy);
  if (destroy == nullptr) return refused(module.error, text);

  const RunningModule running(path);  // for a crash report
  Object* const object = create();
  // A module whose create() gives no object cannot be called; report it
  // instead of calling through a null pointer.
  if (object == nullptr) return refused(noObjectText(path), text);
  // The answer is built in the place of `text`, not moved there.
  text.~basic_string();
  try {
    new (&text) std::string(operate(object));
  } catch (...) {
    new (&text) std::string();
    noteThrowingModule(path);
    throw;
  }
  destroy(object);
  return ModuleAnswer::kAnswered;
}

}  // namespace

void setModuleMappedHook(void (*hook)()) { mappedHook = hook; }

std::string noObjectText(const std::string& path) {
  return path + ": create() returned no object";
}

const LoadedModule& loadedModule(const std::string& app, const std::string& path) {
  // The syntax modules and pack modules of each application.
  static auto* cache = new DiskCache<LoadedModule>(16 * kCachedApplications);
  return cachedEntry(*cache, app, path, false,
                     [&](LoadedModule& module) { load(path, module); });
}

bool isCached(const LoadedModule& module) { return module.generation != 0; }

ModuleAnswer::Kind callPackModule(const LoadedModule& module, const std::string& modulePath,
                                  const std::string& input, std::string& answer) {
  if (!module.script.empty()) {
    return callScript(
        module,
        [&](ScriptHost& host, const ScriptFile& file) { return host.execute(file, input, answer); },
        answer);
  }
  return loadAndCall<ModuleObject>(
      module, modulePath, [&](ModuleObject* object) { return object->execute(input); }, answer);
}

ModuleAnswer callPackModule(const LoadedModule& module, const std::string& modulePath,
                            const std::string& input) {
  ModuleAnswer answer{ModuleAnswer::kAnswered, ""};
  answer.kind = callPackModule(module, modulePath, input, answer.text);
  return answer;
}

ModuleAnswer callPackModule(const std::string& app, const std::string& modulePath,
                            const std::string& input) {
  return callPackModule(loadedModule(app, modulePath), modulePath, input);
}

ModuleAnswer::Kind askSyntaxModule(const LoadedModule& module, const std::string& libPath,
                                   const std::string& syntaxLine, const std::string& statement,
                                   std::string& answer) {
  if (!module.script.empty()) {
    return callScript(module,
                      [&](ScriptHost& host, const ScriptFile& file) {
                        return host.check(file, syntaxLine, statement, answer);
                      },
                      answer);
  }
  const SyntaxEntries entries = syntaxEntries(module);
  if (entries.create != nullptr) {
    return askThroughEntries(entries, libPath, syntaxLine, statement, answer);
  }
  // Not callable: the refusal that fits.
  return loadAndCall<LibModuleObject>(
      module, libPath,
      [&](LibModuleObject* object) { return object->check(syntaxLine, statement); }, answer);
}

ModuleAnswer askSyntaxModule(const LoadedModule& module, const std::string& libPath,
                             const std::string& syntaxLine, const std::string& statement) {
  ModuleAnswer answer{ModuleAnswer::kAnswered, ""};
  answer.kind = askSyntaxModule(module, libPath, syntaxLine, statement, answer.text);
  return answer;
}

SyntaxEntries syntaxEntries(const LoadedModule& module) {
  SyntaxEntries entries;
  if (!module.readable || !module.script.empty() || module.handle == nullptr ||
      module.create == nullptr || module.destroy == nullptr) {
    return entries;
  }
  entries.create = reinterpret_cast<create_lib_t*>(module.create);
  entries.destroy = reinterpret_cast<destroy_lib_t*>(module.destroy);
  return entries;
}

bool declaresOtherFormAnswer(const LoadedModule& module) {
  return module.otherForms != nullptr && module.create != nullptr && module.destroy != nullptr;
}

std::string otherFormAnswer(const LoadedModule& module, const std::string& libPath,
                            const std::string& statement) {
  const auto answer = reinterpret_cast<other_form_answer_t*>(module.otherForms);
  const RunningModule running(libPath);  // for a crash report
  try {
    return answer(statement);
  } catch (...) {
    noteThrowingModule(libPath);
    throw;
  }
}

