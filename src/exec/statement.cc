#include "exec/statement.h"

#include "modules/module_call.h"
#include "support/disk_watch.h"
#include "support/lang.h"
#include "support/text.h"
#include "syntax/syntax_search.h"
#include "zel/outcome.h"
#include "zel/state.h"

std::string packName(const std::string& syntaxPath) {
  std::string name = MyLastIndexOfSlash(syntaxPath);
  name = goReplace(std::move(name), ".zel", "");
  name = goReplace(std::move(name), ".txt", "");
  return goReplace(std::move(name), ".tt", "");
}

std::string withoutStatementMarkers(std::string text) {
  if (text.find('(') == std::string::npos) return text;  // no marker: most statements
  text = goReplace(std::move(text), "(ZE)", "");
  return goReplace(std::move(text), "(CZEL)", "");
}

std::string syntaxAnswer(const std::string& syntaxPath,
                         const std::string& statement,
                         const std::string& lineNumber) {
  return withoutStatementMarkers(goVerifySyntaxesAll(syntaxPath, statement, lineNumber));
}

bool isAccepted() {
  return lastMatch.accepted;
}

namespace {

// The module path the latest accepted match names: in the pack of the
// syntax file that accepted the statement. The latest one is kept: a
// program's statements mostly name the modules of one pack in turn, and
// working the path out again costs more than checking it is the same.
struct AcceptedModule {
  std::string app, syntax, module, path;
  bool named = false;  // the module name stays inside its pack
};

const AcceptedModule& acceptedModule() {
  static auto* latest = new AcceptedModule;
  if (lastMatch.module != latest->module || lastMatch.syntaxPath != latest->syntax ||
      myAbsolutePathDirApp != latest->app) {
    const std::string pack = packName(lastMatch.syntaxPath);
    latest->path = myAbsolutePathDirApp + "/node_modules/" + pack + "/" + lastMatch.module + ".so";
    // A pack name "", "." or ".." would name node_modules or the application itself.
    latest->named = isPackModuleName(lastMatch.module) && isPackModuleName(pack) && pack != ".";
    latest->app = myAbsolutePathDirApp;
    latest->syntax = lastMatch.syntaxPath;
    latest->module = lastMatch.module;
  }
  return *latest;
}

}  // namespace

void runAcceptedStatement(const std::string& input) {
  const AcceptedModule& module = acceptedModule();
  // A form's parameter comes from a syntax file, which the header of a
  // user's program may have chosen: it never names a file outside its pack.
  if (!module.named) {
    resultat = goReplace(goResponseLANG("4"), ":E1:", withVisibleNul(module.path));
    return;
  }
  // The module may call back into the engine, which may rebuild the path
  // held here: callModule uses it only before the module's call.
  resultat = callModule(module.path, input);
}

void runDirectStatement(const std::string& syntaxPath,
                        const std::string& statement,
                        const std::string& moduleStatement) {
  const StatementScope scope;
  const std::string answer = syntaxAnswer(syntaxPath, statement, "1");
  // A comment leaves the result as it was; nothing is run for a comment.
  if (isAccepted() && !isPassedOver(statement)) {
    runAcceptedStatement(syntaxPath + ";" + moduleStatement);
  } else {
    resultat = answer;
  }
  applyStopTest();
}

void applyStopTest() {
  const std::string stop = goResponseLANG("21");
  if (resultat != stop) return;
  // Without a real stop answer every empty result, or the catalogue's own
  // failure text, would end the host process.
  if (stop.empty() || stop == catalogFailureText()) return;
  resultat = goResponseLANG("12");
  stopRun();
}
