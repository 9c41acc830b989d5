// The classic behaviour for the application of the latest Executer or
// Commandes call: the one place below the entries' own code where the
// application directory is read from the process state
// (myAbsolutePathDirApp) rather than handed down. Each function builds a
// call for that application and asks the subsystem below.
#ifndef ZEL_ENTRIES_CLASSIC_H_
#define ZEL_ENTRIES_CLASSIC_H_

#include <string>

// The application's catalogue path, the text a lookup answers when it
// cannot be read, and message `number` (or that failure text).
std::string catalogPath();
std::string catalogFailureText();
std::string goResponseLANG(std::string number);

// A pack module's answer, and a syntax module's: the answer, or a failure
// text (message 4 naming the path when the file cannot be opened).
std::string callModule(const std::string& modulePath, const std::string& input);
std::string callLibModule(const std::string& libPath, const std::string& syntaxLine,
                          const std::string& statement);

// The classic match against one syntax file: returns the match's result
// text and leaves it in resultat. `lineNumber` is not used.
std::string goOpenSyntaxes(std::string syntaxPath, std::string statement,
                           std::string lineNumber);

// The classic search: returns the result text and leaves it in resultat;
// for a statement that is passed over, resultat as it was. `lineNumber` is
// the caller's line number in decimal, not used.
std::string goVerifySyntaxesAll(std::string selector, std::string statement,
                                std::string lineNumber);

// The classic runners of a plain and of a compiled program.
std::string goLoadScript(std::string programPath, std::string syntaxPath);
std::string goLoadZEL(std::string programPath, std::string syntaxPath);

#endif  // ZEL_ENTRIES_CLASSIC_H_
