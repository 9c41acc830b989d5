// Process-wide engine state.
//
// The classic exports work on these variables: each is defined once
// (state.cc), created when the engine is loaded and kept until the process
// ends. No classic entry resets any of them when it starts, so results, the
// first result held back and the last syntax module answer carry over from
// one call to the next. Engine steps return their results as values
// (call/call.h); the variables are written from those values where the
// classic behaviour needs them. A call made through runCall as isolated
// (the promise API) starts from them empty and puts them back as it found
// them.
#ifndef ZEL_BASE_STATE_H_
#define ZEL_BASE_STATE_H_

#include <mutex>
#include <string>

// Application directory given to the latest Executer or Commandes call;
// prefix of every path built with "/node_modules/".
extern std::string myAbsolutePathDirApp;
// Result text of the latest operation; the entries return a copy of it.
extern std::string resultat;
// Line buffer of the program file readers.
extern std::string line;
// Syntax path of the program being run; also the compiler's source argument.
extern std::string myAppFile;
// The compiler's second argument (the output suffix).
extern std::string myDataFile;
// Pending text of a statement that continues over several lines.
extern std::string dataToSave;
// First non-empty module result of the process; set once, never cleared.
extern std::string FirstResponse;
// Line buffer of the message catalogue reader.
extern std::string lineLang;
// Line buffer of the syntax file reader.
extern std::string lineSyntaxesExist;
// Answer of the latest syntax module call made during syntax matching.
extern std::string lineSyntaxesExistLib;
// Syntax location of the pack search in progress.
extern std::string myDirPath;
// Set when enciphering failed during the compilation in progress.
extern bool ErrorEnCrypt;

// Taken by every engine entry for the whole call, so that calls from
// several threads (worker threads of one Node process, say) run one after
// another instead of sharing the state above half-way. Recursive, so that a
// module calling back into the engine on the same thread does not deadlock.
std::recursive_mutex& engineMutex();

// The standard Base64 alphabet (RFC 4648, section 4).
extern const std::string base64_chars;

#endif  // ZEL_BASE_STATE_H_
