// Steps every way of running a statement shares: the pack name, the syntax
// search, the module call and the stop test. Each step stores what it
// produced through the call (Call::store), which writes resultat and the
// call's record together.
#ifndef ZEL_EXEC_STATEMENT_H_
#define ZEL_EXEC_STATEMENT_H_

#include <string>

#include "syntax/syntax_match.h"
#include "call/call.h"

// The pack a syntax path belongs to: its last path component with every
// ".zel", then ".txt", then ".tt" removed ("/app/node_modules/calc.zel" gives
// "calc"). The pack's modules lie in <app>/node_modules/<pack>/.
std::string packName(const std::string& syntaxPath);

// Removes every "(ZE)", then every "(CZEL)".
std::string withoutStatementMarkers(std::string text);

// Searches `statement` and keeps the last syntax module answer
// (lineSyntaxesExistLib).
SyntaxVerdict searchStatement(const Call& call, const std::string& syntaxPath,
                              const std::string& statement);

// Calls the module an accepted match names, in the pack of the syntax file
// that accepted the statement, with `input`, and returns its answer. A
// module name that is empty, absolute, holds a ".." component or a NUL byte
// is never loaded: the result is then message 4 naming the module path (NUL
// shown as "\0"), as for a module file that cannot be opened; a module the
// loader refuses gives the loader's text. When the module throws, the
// match's acceptance is stored as the call's result (the exception goes on).
Result runAcceptedStatement(Call& call, SyntaxVerdict& match, const std::string& input);

// Runs one statement given as text: on acceptance (for "*.*", by the module
// of the pack that accepted it) the module gets
// syntaxPath + ";" + moduleStatement, otherwise the syntax answer (without
// "(ZE)" and "(CZEL)") becomes the result. Then applies the stop test.
void runDirectStatement(Call& call, const std::string& syntaxPath,
                        const std::string& statement, const std::string& moduleStatement);

// Stop test: when the call's latest result is exactly the stop answer (catalogue message 21),
// stores message 12 and ends the process with exit status 0, or only the
// run when the call came through recordedCall (call/call.h). An empty message
// 21, or a catalogue that cannot be read, never stops. Returns true when it
// stopped.
bool applyStopTest(Call& call);

#endif  // ZEL_EXEC_STATEMENT_H_
