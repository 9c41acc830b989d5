#include <iostream>

#include "exec/statement.h"
#include "support/text.h"
#include "zel/state.h"
#include "zel/zel.h"

namespace {

// The syntax path a declaration names: taken as it is when it holds a path
// separator, otherwise below the application's node_modules.
std::string declaredSyntaxPath(const std::string& app, std::string declaration) {
  declaration = goReplace(std::move(declaration), "(CZEL)", "");
  declaration = goReplace(std::move(declaration), ":s:", "");
  declaration = goReplace(std::move(declaration), "(CURL)", "");
  declaration = goReplace(std::move(declaration), ";", "");
  if (containsAny(declaration, {"/", "\\"})) return declaration;
  return app + "/node_modules/" + declaration;
}

}  // namespace

std::string CallCMD(std::string syntaxPath) {
  const std::lock_guard<std::recursive_mutex> lock(engineMutex());
  // The application of the latest Executer or Commandes call.
  Call call;
  call.setApp(myAbsolutePathDirApp);
  std::string buffer;
  std::string word;
  while (std::cin >> word) {
    if (word.find(';') == std::string::npos) {
      buffer += word + " ";
      continue;
    }
    buffer = goReplace(buffer + word, " ;", ";");
    if (containsAny(buffer, {":s:", "(CURL)"})) {
      syntaxPath = declaredSyntaxPath(call.app(), buffer);
      buffer.clear();
      continue;
    }
    const std::string statement = buffer;
    buffer.clear();
    runDirectStatement(call, syntaxPath, statement, withoutStatementMarkers(statement));
    if (FirstResponse.empty()) {
      FirstResponse = resultat;
      resultat.clear();
    }
  }
  return buffer;
}
