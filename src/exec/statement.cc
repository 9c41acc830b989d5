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

bool isAccepted(const std::string& answer) {
  return answer.find("(TRUEZEL)") != std::string::npos;
}

namespace {

// The path of the module an accepted answer names. The latest one is kept:
// a program's statements mostly name the modules of one pack in turn, and
// working the path out again costs more than checking it is the same.
const std::string& acceptedModulePath(const std::string& syntaxPath, const std::string& answer) {
  struct Latest {
    std::string app, syntax, answer, path;
  };
  static auto* latest = new Latest;
  if (answer != latest->answer || syntaxPath != latest->syntax ||
      myAbsolutePathDirApp != latest->app) {
    const std::string module = goReplace(answer, "(TRUEZEL)", "");
    latest->path =
        myAbsolutePathDirApp + "/node_modules/" + packName(syntaxPath) + "/" + module + ".so";
    latest->app = myAbsolutePathDirApp;
    latest->syntax = syntaxPath;
    latest->answer = answer;
  }
  return latest->path;
}

}  // namespace

void runAcceptedStatement(const std::string& syntaxPath,
                          const std::string& answer, const std::string& input) {
  resultat = callModule(acceptedModulePath(syntaxPath, answer), input);
}

void runDirectStatement(const std::string& syntaxPath,
                        const std::string& statement,
                        const std::string& moduleStatement) {
  const StatementScope scope;
  const std::string answer = syntaxAnswer(syntaxPath, statement, "1");
  // A comment leaves the result as it was; even when that result names a
  // module, nothing is run for a comment.
  if (isAccepted(answer) && !isPassedOver(statement)) {
    runAcceptedStatement(syntaxPath, answer, syntaxPath + ";" + moduleStatement);
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
