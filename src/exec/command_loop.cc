#include "exec/command_loop.h"

#include <iostream>

#include "exec/statement.h"
#include "support/text.h"
#include "zel/state.h"
#include "zel/zel.h"

bool StatementCutter::add(const std::string& word, std::string& statement) {
  if (word.find(';') == std::string::npos) {
    buffer_ += word;
    buffer_ += ' ';
    return false;
  }
  statement = goReplace(buffer_ + word, " ;", ";");
  buffer_.clear();
  return true;
}

bool isDeclaration(const std::string& statement) {
  return containsAny(statement, {":s:", "(CURL)"});
}

std::string declaredSyntaxPath(const std::string& app, std::string declaration) {
  declaration = goReplace(std::move(declaration), "(CZEL)", "");
  declaration = goReplace(std::move(declaration), ":s:", "");
  declaration = goReplace(std::move(declaration), "(CURL)", "");
  declaration = goReplace(std::move(declaration), ";", "");
  if (containsAny(declaration, {"/", "\\"})) return declaration;
  return app + "/node_modules/" + declaration;
}

std::string CallCMD(std::string syntaxPath) {
  const std::lock_guard<std::recursive_mutex> lock(engineMutex());
  // The application of the latest Executer or Commandes call.
  Call call;
  call.setApp(myAbsolutePathDirApp);
  StatementCutter cutter;
  std::string word;
  std::string statement;
  while (std::cin >> word) {
    if (!cutter.add(word, statement)) continue;
    if (isDeclaration(statement)) {
      syntaxPath = declaredSyntaxPath(call.app(), statement);
      continue;
    }
    runDirectStatement(call, syntaxPath, statement, withoutStatementMarkers(statement));
    if (call.holdsBackFirstResult && FirstResponse.empty()) {
      FirstResponse = resultat;
      resultat.clear();
    }
  }
  return cutter.pending();
}
