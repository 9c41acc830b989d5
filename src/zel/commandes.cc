#include "exec/statement.h"
#include "zel/state.h"
#include "zel/zel.h"

std::string CallZEL_Commandes(std::string appDir, std::string statement,
                              std::string syntaxPath) {
  myAbsolutePathDirApp = std::move(appDir);
  const std::string answer = syntaxAnswer(syntaxPath, statement, "1");
  if (isAccepted(answer)) {
    runAcceptedStatement(syntaxPath, answer, syntaxPath + ";" + statement);
  } else {
    resultat = answer;
  }
  applyStopTest();
  return resultat;
}
