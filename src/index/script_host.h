// The JavaScript script host (modules/script_module.h): each environment
// that loads the add-on runs the JavaScript modules the engine calls on its
// thread, directly, in that environment.
#ifndef ZEL_INDEX_SCRIPT_HOST_H_
#define ZEL_INDEX_SCRIPT_HOST_H_

#include <napi.h>

// setScriptHelpers(load, describe): makes this environment the script host
// of its thread. load(file) requires `file` afresh and returns its exports;
// describe(error, file, what) gives the failure text of a module that threw
// or answered no string (`what` says which). The host goes with the
// environment.
Napi::Value SetScriptHelpers(const Napi::CallbackInfo& info);

#endif  // ZEL_INDEX_SCRIPT_HOST_H_
