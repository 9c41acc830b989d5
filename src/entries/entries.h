// The engine entries with the call they work in: what CallZEL_Executer,
// CallZEL_Commandes and CallZEL_Compiler (zel.h) run, for callers that keep
// the call's record (recordedCall, entries/recorded_call.h). The caller holds the engine
// lock.
#ifndef ZEL_ENTRIES_ENTRIES_H_
#define ZEL_ENTRIES_ENTRIES_H_

#include <string>

#include "call/call.h"

// CallZEL_Executer: sets the call's application to appDir.
std::string executeProgram(Call& call, std::string appDir, std::string programPath);

// executeProgram for a program given as `text` rather than a file: the
// same header search and confinement, the same statements and line
// numbers. Nothing is opened or written for the program itself; the
// modules are told its path is "".
std::string executeProgramText(Call& call, std::string appDir, const std::string& text);

// CallZEL_Commandes: sets the call's application to appDir.
std::string executeStatement(Call& call, std::string appDir, std::string statement,
                             std::string syntaxPath);

// CallZEL_Commandes as the promise API runs it: `syntax` is "*.*" or a
// syntax file below <app>/node_modules/, by its name there or by an
// absolute path, confined as a program's header is (message 1 naming it
// when it would leave). Pack names may come from users.
std::string executeNamedStatement(Call& call, std::string appDir, std::string statement,
                                  std::string syntax);

// CallZEL_Compiler, with the messages of the call's catalogue (setApp
// first). The record holds the output path, and one failure per source
// line that cannot be enciphered.
std::string compileScript(Call& call, std::string sourcePath, std::string outputSuffix);

#endif  // ZEL_ENTRIES_ENTRIES_H_
