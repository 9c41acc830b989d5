// Reporting a module that crashes the process.
//
// The engine keeps known, at two stores per module call, which module runs
// and which call it runs for: pointers to texts and records that stay
// valid during the call, so that nothing is formatted unless a crash comes.
// A host that wants crashes reported (the command line) installs handlers
// for the signals a crash raises. They write a note only for a signal that
// arrives on the engine thread during a module call, and always hand the
// signal on to the handler installed before them, so that the host's own
// handling (the WebAssembly trap handling of the JavaScript engine, say)
// stays as it was and a process that crashes still dies of the signal.
#ifndef ZEL_HOST_CRASH_REPORT_H_
#define ZEL_HOST_CRASH_REPORT_H_

#include <atomic>
#include <string>

#include "call/call.h"
#include "modules/running_module.h"

// The call the engine thread runs, for the line of its statement; null
// between calls.
extern std::atomic<const Call*> callInRun;

// Marks the calling thread as the engine thread, the only one whose crashes
// are noted, and gives it a stack of its own for signal handlers, so that a
// module that overflows the thread's stack is noted too.
void noteEngineThread();

// Installs, once, handlers for SIGSEGV, SIGBUS, SIGFPE, SIGILL and SIGABRT
// that note a module crash on standard error as
//   COMMAND: [PROGRAM:LINE: ]the module PATH crashed (SIGNAME)
// (PROGRAM:LINE: when `program` is not empty and the line is known), then
// hand the signal on. PATH is shown as the outcome's texts show paths, so
// that the note may reach the user who wrote the program: relative to the
// application home `home` (node_modules/calc/crash.so), its last name when
// outside it; the operator knows the home the command was given. Later
// calls change the command, program and home only.
void reportModuleCrashes(const std::string& command, const std::string& program,
                         const std::string& home);

#endif  // ZEL_HOST_CRASH_REPORT_H_
