// Process-wide engine state.
//
// The classic exports work on these variables: each is defined once
// (state.cc), created when the engine is loaded and kept until the process
// ends. Results, the first result held back and the last syntax module
// answer carry over from one call to the next. Engine steps work on values
// (call/call.h) and write these variables from them where the classic
// behaviour needs them, and read none of them but the application
// directory, FirstResponse (whose emptiness says the first result is still
// to be held back) and resultat, which a call starts from: a call leaves its
// result in resultat as it ends, a program run its last line and unfinished
// text (line, dataToSave), and a compilation ErrorEnCrypt. A call made
// through recordedCall as isolated (the promise API) starts from them empty and
// puts them back as it found them.
#ifndef ZEL_BASE_STATE_H_
#define ZEL_BASE_STATE_H_

#include <mutex>
#include <string>

// Application directory given to the latest Executer or Commandes call;
// prefix of every path built with "/node_modules/".
extern std::string myAbsolutePathDirApp;
// Result text of the latest call, written as it ends; the classic entries
// return a copy of it.
extern std::string resultat;
// The last line the latest program run read (empty when it read to the
// end).
extern std::string line;
// Syntax path of the program being run; also the compiler's source argument.
extern std::string myAppFile;
// The compiler's second argument (the output suffix).
extern std::string myDataFile;
// The text the latest program run read after its last statement.
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
// Set by the latest compilation when a line could not be enciphered, and by
// goEnCryptZEL (never cleared there).
extern bool ErrorEnCrypt;

// Taken by every engine entry for the whole call, so that calls from
// several threads (worker threads of one Node process, say) run one after
// another instead of sharing the state above half-way. Recursive, so that a
// module calling back into the engine on the same thread does not deadlock.
std::recursive_mutex& engineMutex();

// The standard Base64 alphabet (RFC 4648, section 4).
extern const std::string base64_chars;

#endif  // ZEL_BASE_STATE_H_
