#include "exec/statement.h"
#include "zel/entries.h"
#include "zel/outcome.h"
#include "zel/state.h"
#include "zel/zel.h"

std::string executeStatement(Call& call, std::string appDir, std::string statement,
                             std::string syntaxPath) {
  myAbsolutePathDirApp = appDir;
  call.setApp(std::move(appDir));
  // The module gets the statement as given, markers included.
  runDirectStatement(call, syntaxPath, statement, statement);
  return resultat;
}

std::string CallZEL_Commandes(std::string appDir, std::string statement,
                              std::string syntaxPath) {
  const std::lock_guard<std::recursive_mutex> lock(engineMutex());
  Call call;
  return executeStatement(call, std::move(appDir), std::move(statement), std::move(syntaxPath));
}
