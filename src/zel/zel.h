// The zel engine: its entries and the text utilities it exports.
//
// Every entry works on the process-wide engine state (zel/state.h) and
// returns a copy of resultat, the latest result text. Failures are catalogue
// messages returned as ordinary results. Calls must not overlap.
#ifndef ZEL_ZEL_ZEL_H_
#define ZEL_ZEL_ZEL_H_

#include <string>

#include "support/text.h"

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

#endif  // ZEL_ZEL_ZEL_H_
