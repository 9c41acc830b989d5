#include "modules/module_call.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

#include "support/disk_watch.h"
#include "support/lang.h"
#include "support/text.h"
#include "zel/outcome.h"
#include "zel/state.h"

namespace {

std::string loaderError() {
  const char* error = dlerror();
  return error ? error : "";
}

// One variable set of the engine state: the latest loaded module's handle,
// its entries and the object of the call in progress.
template <class Object>
struct ModuleSlots {
  void*& handle;
  Object* (*&create)();
  void (*&destroy)(Object*);
  Object*& object;
};

}  // namespace

// The module is loaded once per disk generation, not looked up again for
// every call.
struct LoadedModule {
  uint64_t generation = 0;
  bool readable = false;   // the existence test
  void* handle = nullptr;  // null when loading failed
  void* create = nullptr;
  void* destroy = nullptr;
  std::string error;       // the loader's text when loading or a lookup failed
};

namespace {

// Runs the existence test, loads and resolves, as a call would.
void load(const std::string& path, LoadedModule& module) {
  std::FILE* file = std::fopen(path.c_str(), "r");
  module.readable = file != nullptr;
  if (file == nullptr) return;
  std::fclose(file);
  // By the file's real path: the loader hands back an object already loaded
  // under the same name, so a release switched through a symbolic link would
  // keep the old release's module.
  char* real = realpath(path.c_str(), nullptr);
  module.handle = dlopen(real != nullptr ? real : path.c_str(), RTLD_LAZY);
  std::free(real);
  if (module.handle == nullptr) {
    module.error = loaderError();
    return;
  }
  for (void** entry : {&module.create, &module.destroy}) {
    dlerror();
    *entry = dlsym(module.handle, entry == &module.create ? "create" : "destroy");
    if (*entry == nullptr) {
      module.error = loaderError();
      return;
    }
  }
}

// The steps shared by both kinds of module; `operate` calls the object's
// operation. The slots are overwritten as each step is reached, so after a
// failure they hold what was found up to it.
template <class Object, class Operate>
std::string loadAndCall(const LoadedModule& module, const std::string& path,
                        ModuleSlots<Object> slots, Operate operate) {
  if (!module.readable) return goReplace(goResponseLANG("4"), ":E1:", path);
  slots.handle = module.handle;
  if (module.handle == nullptr) return module.error;
  slots.create = reinterpret_cast<Object* (*)()>(module.create);
  if (module.create == nullptr) return module.error;
  slots.destroy = reinterpret_cast<void (*)(Object*)>(module.destroy);
  if (module.destroy == nullptr) return module.error;

  slots.object = slots.create();
  // A module whose create() gives no object cannot be called; report it
  // instead of calling through a null pointer.
  if (slots.object == nullptr) return path + ": create() returned no object";
  std::string result = operate(slots.object);
  slots.destroy(slots.object);
  return result;
}

}  // namespace

const LoadedModule& loadedModule(const std::string& path) {
  // The syntax modules and pack modules of each application.
  static auto* cache = new DiskCache<LoadedModule>(16 * kCachedApplications);
  return cachedEntry(*cache, path, false, [&](LoadedModule& module) { load(path, module); });
}

bool isCached(const LoadedModule& module) { return module.generation != 0; }

std::string callModule(const std::string& modulePath, const std::string& input) {
  ModuleSlots<ModuleObject> slots{handle, openZEL, closeZEL, ps};
  const LoadedModule& module = loadedModule(modulePath);
  // Named in the call record while it runs, for the report of an exception.
  callOutcome().modulePath.assign(modulePath);
  bool called = false;
  std::string result = loadAndCall(module, modulePath, slots, [&](ModuleObject* object) {
    called = true;
    return object->execute(input);
  });
  callOutcome().modulePath.clear();
  if (called) {
    recordModuleResult();
  } else if (!module.readable) {
    recordMessage(4);
  } else {
    recordUnnumberedFailure();
  }
  return result;
}

std::string callLibModule(const LoadedModule& module, const std::string& libPath,
                          const std::string& syntaxLine, const std::string& statement) {
  ModuleSlots<LibModuleObject> slots{handleLib, openZELLib, closeZELLib, psLib};
  return loadAndCall(module, libPath, slots, [&](LibModuleObject* object) {
    return object->check(syntaxLine, statement);
  });
}

std::string callLibModule(const std::string& libPath, const std::string& syntaxLine,
                          const std::string& statement) {
  return callLibModule(loadedModule(libPath), libPath, syntaxLine, statement);
}
