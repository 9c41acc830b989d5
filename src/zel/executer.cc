#include <fstream>

#include "compile/cipher.h"
#include "exec/runners.h"
#include "zel/outcome.h"
#include "zel/state.h"
#include "zel/zel.h"

namespace {

// The syntax path a header names: <app>/node_modules/ + the header without
// its markers and ";", with "//" folded, a leading "C/" made "C:/" and line
// breaks and tabs dropped.
std::string syntaxPathOf(std::string header) {
  header = goReplace(std::move(header), "(CZEL)", "");
  header = goReplace(std::move(header), ":s:", "");
  header = goReplace(std::move(header), ";", "");
  std::string path = myAbsolutePathDirApp + "/node_modules/" + header;
  path = goReplace(std::move(path), "//", "/");
  if (path.compare(0, 2, "C/") == 0) path.insert(1, ":");
  path = goReplace(std::move(path), "\n", "");
  path = goReplace(std::move(path), "\r", "");
  return goReplace(std::move(path), "\t", "");
}

}  // namespace

std::string CallZEL_Executer(std::string appDir, std::string programPath) {
  const std::lock_guard<std::recursive_mutex> lock(engineMutex());
  beginOutcome();
  myAbsolutePathDirApp = std::move(appDir);
  std::ifstream file;
  if (!openForReading(programPath, file)) return programOpenFailure(programPath);
  while (std::getline(file, line)) {
    line = goReplace(std::move(line), "\r", "");
    if (line.empty() || containsAny(line, {"##", "==-;"})) continue;
    const bool compiled = hasCipherMarker(line);
    if (compiled) line = decipherStatement(line);
    if (!containsAny(line, {":s:", "(CZEL)"})) continue;
    // The first header of this file decides, whatever earlier calls ran.
    myAppFile = syntaxPathOf(line);
    file.close();
    resultat = compiled ? goLoadZEL(programPath, myAppFile)
                        : goLoadScript(programPath, myAppFile);
    break;
  }
  return resultat;
}
