#include "syntax/syntax_search.h"

#include <dirent.h>

#include "support/lang.h"
#include "support/text.h"
#include "syntax/syntax_match.h"
#include "zel/state.h"

namespace {

// Tries every pack of the application in directory order until one accepts.
std::string searchAllPacks(const std::string& statement, const std::string& lineNumber) {
  myDirPath = myAbsolutePathDirApp + "/node_modules/";
  if (!IsPathExist(myDirPath)) {
    resultat = goReplace(goResponseLANG("1"), ":E1:", myDirPath);
    return resultat;
  }
  DIR* dir = opendir(myDirPath.c_str());
  if (dir == nullptr) return resultat;
  while (const dirent* entry = readdir(dir)) {
    const std::vector<std::string> pieces = entryNamePieces(entry->d_name);
    if (pieces.size() < 2) {
      resultat = goResponseLANG("20");
      continue;
    }
    if (pieces[1] != "zel") continue;
    const std::string pack = withoutLineBreaks(myDirPath + pieces[0] + ".zel");
    resultat = goOpenSyntaxes(pack, statement, lineNumber);
    if (resultat.find("(TRUEZEL)") != std::string::npos) break;
  }
  closedir(dir);
  return resultat;
}

}  // namespace

std::string goVerifySyntaxesAll(std::string selector, std::string statement,
                                std::string lineNumber) {
  if (isPassedOver(statement)) return resultat;
  if (selector == "*.*") return searchAllPacks(statement, lineNumber);
  myDirPath = selector;
  resultat = goOpenSyntaxes(selector, statement, lineNumber);
  return resultat;
}
