#include "modules/module_call.h"

#include <dlfcn.h>

#include <cstdio>

#include "support/lang.h"
#include "support/text.h"
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

// The steps shared by both kinds of module; `operate` calls the object's
// operation. Each slot is overwritten as its step is reached, so after a
// failure the slots hold what was found up to it.
template <class Object, class Operate>
std::string loadAndCall(const std::string& path, ModuleSlots<Object> slots,
                        Operate operate) {
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) return goReplace(goResponseLANG("4"), ":E1:", path);
  std::fclose(file);

  slots.handle = dlopen(path.c_str(), RTLD_LAZY);
  if (slots.handle == nullptr) return loaderError();

  dlerror();
  slots.create = reinterpret_cast<Object* (*)()>(dlsym(slots.handle, "create"));
  if (slots.create == nullptr) return loaderError();
  slots.destroy =
      reinterpret_cast<void (*)(Object*)>(dlsym(slots.handle, "destroy"));
  if (slots.destroy == nullptr) return loaderError();

  slots.object = slots.create();
  // A module whose create() gives no object cannot be called; report it
  // instead of calling through a null pointer.
  if (slots.object == nullptr) return path + ": create() returned no object";
  std::string result = operate(slots.object);
  slots.destroy(slots.object);
  return result;
}

}  // namespace

std::string callModule(std::string modulePath, std::string input) {
  ModuleSlots<ModuleObject> slots{handle, openZEL, closeZEL, ps};
  return loadAndCall(modulePath, slots, [&](ModuleObject* object) {
    return object->execute(input);
  });
}

std::string callLibModule(std::string libPath, std::string syntaxLine,
                          std::string statement) {
  ModuleSlots<LibModuleObject> slots{handleLib, openZELLib, closeZELLib, psLib};
  return loadAndCall(libPath, slots, [&](LibModuleObject* object) {
    return object->check(syntaxLine, statement);
  });
}
