#include "entries/classic.h"

#include "base/state.h"
#include "base/text.h"
#include "call/call.h"
#include "exec/runners.h"
#include "lang/lang.h"
#include "modules/module_call.h"
#include "syntax/syntax_match.h"
#include "syntax/syntax_search.h"

std::string catalogPath() { return catalogPathOf(myAbsolutePathDirApp); }

std::string catalogFailureText() { return catalogFailureText(catalogPath()); }

std::string goResponseLANG(std::string number) {
  std::string text;
  lookupMessage(myAbsolutePathDirApp, catalogPath(), number, text);
  return text;
}

namespace {

// The classic text of a module call: message 4 (from the catalogue of the
// latest application) naming the path when the file cannot be opened.
std::string classicText(ModuleAnswer answer, const std::string& path) {
  if (answer.kind != ModuleAnswer::kUnreadable) return std::move(answer.text);
  return goReplace(goResponseLANG("4"), ":E1:", withVisibleNul(path));
}

// A call for the application of the latest Executer or Commandes call.
template <class Runner>
std::string classicRun(Runner run, const std::string& programPath, const std::string& syntaxPath) {
  Call call;
  call.setApp(myAbsolutePathDirApp);
  return run(call, programPath, syntaxPath);
}

}  // namespace

// The classic calls keep their own copy of the path: the caller's text may
// be engine state that a module calling back into the engine rewrites.
std::string callModule(const std::string& modulePath, const std::string& input) {
  const std::string path = modulePath;
  return classicText(callPackModule(myAbsolutePathDirApp, path, input), path);
}

std::string callLibModule(const std::string& libPath, const std::string& syntaxLine,
                          const std::string& statement) {
  const std::string path = libPath;
  return classicText(
      askSyntaxModule(loadedModule(myAbsolutePathDirApp, path), path, syntaxLine, statement),
      path);
}

std::string goOpenSyntaxes(std::string syntaxPath, std::string statement,
                           std::string /*lineNumber*/) {
  Call call;
  call.setApp(myAbsolutePathDirApp);
  SyntaxVerdict match = matchSyntaxFile(call, syntaxPath, statement);
  keepLastAnswer(match);
  call.store(match.takeResult());
  return call.result();
}

std::string goVerifySyntaxesAll(std::string selector, std::string statement,
                                std::string /*lineNumber*/) {
  Call call;
  call.setApp(myAbsolutePathDirApp);
  SyntaxVerdict match = searchSyntax(call, selector, statement);
  if (match.passedOver) return call.result();
  keepLastAnswer(match);
  call.store(match.takeResult());
  return call.result();
}

std::string goLoadScript(std::string programPath, std::string syntaxPath) {
  return classicRun(runScript, programPath, syntaxPath);
}

std::string goLoadZEL(std::string programPath, std::string syntaxPath) {
  return classicRun(runCompiled, programPath, syntaxPath);
}
