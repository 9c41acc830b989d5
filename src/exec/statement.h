// Steps every way of running a statement shares: the pack name, the syntax
// answer, the module call and the stop test.
#ifndef ZEL_EXEC_STATEMENT_H_
#define ZEL_EXEC_STATEMENT_H_

#include <string>

// The pack a syntax path belongs to: its last path component with every
// ".zel", then ".txt", then ".tt" removed ("/app/node_modules/calc.zel" gives
// "calc"). The pack's modules lie in <app>/node_modules/<pack>/.
std::string packName(const std::string& syntaxPath);

// Removes every "(ZE)", then every "(CZEL)".
std::string withoutStatementMarkers(std::string text);

// Asks the syntax search about `statement` and returns its answer without
// "(ZE)" and "(CZEL)".
std::string syntaxAnswer(const std::string& syntaxPath,
                         const std::string& statement,
                         const std::string& lineNumber);

// True when the latest syntax search accepted its statement (lastMatch).
// Never read from an answer's text, which may quote the statement.
bool isAccepted();

// Calls the module the latest accepted match names, in the pack of the
// syntax file that accepted the statement, with `input`; stores its result
// in resultat. A module name that is empty, absolute, holds a ".." component
// or a NUL byte is never loaded: the result is then message 4 naming the
// module path (NUL shown as "\0").
void runAcceptedStatement(const std::string& input);

// Runs one statement given as text: on acceptance (for "*.*", by the module
// of the pack that accepted it) the module gets
// syntaxPath + ";" + moduleStatement, otherwise the syntax answer becomes the
// result. Then applies the stop test.
void runDirectStatement(const std::string& syntaxPath,
                        const std::string& statement,
                        const std::string& moduleStatement);

// Stop test: when resultat is exactly the stop answer (catalogue message 21),
// stores message 12 in resultat and ends the process with exit status 0, or
// only the run when the call came through runCall (zel/outcome.h). An empty
// message 21, or a catalogue that cannot be read, never stops.
void applyStopTest();

#endif  // ZEL_EXEC_STATEMENT_H_
