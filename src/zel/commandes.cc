#include "exec/statement.h"
#include "zel/outcome.h"
#include "zel/state.h"
#include "zel/zel.h"

std::string CallZEL_Commandes(std::string appDir, std::string statement,
                              std::string syntaxPath) {
  const std::lock_guard<std::recursive_mutex> lock(engineMutex());
  beginOutcome();
  myAbsolutePathDirApp = std::move(appDir);
  // The module gets the statement as given, markers included.
  runDirectStatement(syntaxPath, statement, statement);
  return resultat;
}
