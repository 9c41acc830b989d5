// The zel engine: its entries and the text utilities it exports.
//
// Every entry works on the process-wide engine state (base/state.h) and
// returns a copy of resultat, the latest result text. Failures are catalogue
// messages returned as ordinary results. Each entry takes the engine lock
// for the whole call, so calls from several threads run one after another;
// a module may call an entry again from within its own call, on the same
// thread. A stop answer ends the process (exit status 0).
#ifndef ZEL_ZEL_ZEL_H_
#define ZEL_ZEL_ZEL_H_

#include <string>

#include "base/text.h"

// Runs the program file at programPath for the application in appDir (an
// absolute path). The first line holding ":s:" or "(CZEL)" is the header: it
// names the syntax file below <appDir>/node_modules/, and whether it is
// enciphered decides between the compiled and the plain runner. Returns the
// run's result; message 1 when the file cannot be opened; the previous
// result when the file has no header.
std::string CallZEL_Executer(std::string appDir, std::string programPath);

// Runs one statement against the syntax file at syntaxPath (or every pack,
// for "*.*") for the application in appDir. Returns the module's result, or
// the syntax search's answer when no form accepted the statement.
std::string CallZEL_Commandes(std::string appDir, std::string statement,
                              std::string syntaxPath);

// Compiles the script at sourcePath into a compiled program whose path is
// sourcePath with every ".txt", then every ".db", replaced by outputSuffix.
// Returns message 10 on success; 9 when a line of 1 to 12 bytes cannot be
// enciphered (no file is left at the output path, unless its directory
// cannot be written); 4 (naming the source) when the source cannot be
// opened and 11 (naming the output) when the output cannot be written, is a
// directory or is the source itself (the output path is then left as it
// was). Messages 9 and 10 are returned as the catalogue has them. The output
// appears whole or not at all, except for an existing writable file in a
// directory that cannot be written: that file is written over directly. The
// result is also written to ./requests.log.
std::string CallZEL_Compiler(std::string sourcePath, std::string outputSuffix);

// Reads statements from standard input, word by word, and runs each one
// against syntaxPath as Commandes would; a statement holding ":s:" or
// "(CURL)" names a new syntax file instead. Each result lands in resultat.
// Returns the words of an unfinished statement when the input ends.
std::string CallCMD(std::string syntaxPath);

#endif  // ZEL_ZEL_ZEL_H_
