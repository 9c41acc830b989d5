// The program runners: run a program file statement by statement.
//
// Both return (a copy of) resultat at the end of the run: the latest module
// result or the syntax search's answer to the last unmatched statement, and
// store every step's result through the call (call/call.h), failures
// included. A file that cannot be opened gives message 1 with its path. A
// module whose result is the stop answer ends the process (exit status 0),
// or only the run under recordedCall.
#ifndef ZEL_EXEC_RUNNERS_H_
#define ZEL_EXEC_RUNNERS_H_

#include <istream>
#include <string>

#include "call/call.h"

// Runs a plain program file. A statement is one line, or several lines
// joined without separator, up to the first line holding ";" (kept, with
// anything after it). Empty lines and lines holding "##", "==-;" or ":s:"
// are skipped; a line holding a cipher marker is deciphered first. Unless
// the call is isolated, the first non-empty module result of the process is
// held back (FirstResponse).
std::string runScript(Call& call, const std::string& programPath, const std::string& syntaxPath);

// Runs a compiled program file. Lines are joined up to one holding ";"
// first; the joined statement is then skipped ("##", "==-;") or, when it
// holds a cipher marker, deciphered as a whole and cut before its first ";".
// A compiled line whose source had no ";" continues into the next statement,
// as it did in the source, unless the source would have skipped it; the
// compiled form of an empty line, "-;", is skipped like the empty line.
// Unless the call is isolated, the first non-empty module result is copied
// into FirstResponse and kept.
std::string runCompiled(Call& call, const std::string& programPath,
                        const std::string& syntaxPath);

// Runs the program read from `source`, from where it stands, as runScript
// (or, when `compiled`, runCompiled) runs a file: the same statements, line
// numbers counted from there. `programPath` is what the modules are told
// the program is. Nothing is opened or written.
std::string runProgramSource(Call& call, std::istream& source, const std::string& programPath,
                             const std::string& syntaxPath, bool compiled);

// Message 1 for a program that cannot be opened, stored through the call.
std::string programOpenFailure(Call& call, const std::string& programPath);

#endif  // ZEL_EXEC_RUNNERS_H_
