#include <fstream>

#include "compile/cipher.h"
#include "exec/runners.h"
#include "zel/entries.h"
#include "zel/outcome.h"
#include "zel/state.h"
#include "zel/zel.h"

namespace {

// The header's text: the header without its markers and ";".
std::string headerText(std::string header) {
  header = goReplace(std::move(header), "(CZEL)", "");
  header = goReplace(std::move(header), ":s:", "");
  return goReplace(std::move(header), ";", "");
}

// The header's text as the syntax path holds it: line breaks and tabs
// dropped.
std::string headerRelativePath(const std::string& header) {
  return goReplace(goReplace(goReplace(header, "\n", ""), "\r", ""), "\t", "");
}

// The syntax path a header's text names: <app>/node_modules/ + the text,
// with "//" folded, a leading "C/" made "C:/" and line breaks and tabs
// dropped.
std::string syntaxPathOf(const std::string& app, const std::string& header) {
  std::string path = app + "/node_modules/" + header;
  path = goReplace(std::move(path), "//", "/");
  if (path.compare(0, 2, "C/") == 0) path.insert(1, ":");
  path = goReplace(std::move(path), "\n", "");
  path = goReplace(std::move(path), "\r", "");
  return goReplace(std::move(path), "\t", "");
}

}  // namespace

std::string executeProgram(Call& call, std::string appDir, std::string programPath) {
  myAbsolutePathDirApp = appDir;
  call.setApp(std::move(appDir));
  std::ifstream file;
  if (!openForReading(programPath, file)) return programOpenFailure(call, programPath);
  int lineNumber = 0;
  while (std::getline(file, line)) {
    ++lineNumber;
    line = goReplace(std::move(line), "\r", "");
    if (line.empty() || containsAny(line, {"##", "==-;"})) continue;
    const bool compiled = hasCipherMarker(line);
    if (compiled) line = decipherStatement(line);
    if (!containsAny(line, {":s:", "(CZEL)"})) continue;
    // The first header of this file decides, whatever earlier calls ran.
    file.close();
    const std::string header = headerText(line);
    // Program files come from users: a header may only name a syntax file
    // below node_modules, where the application's author installed packs.
    // Folded on its text: the kernel would resolve a ".." after a symbolic
    // link from the link's target, which may be outside the application.
    const std::string relative = headerRelativePath(header);
    const std::string folded = foldedPath(relative);
    if (!staysBelow(folded)) {
      call.setLine(lineNumber);
      call.store(call.message(kCannotOpen, withVisibleNul(relative)));
      break;
    }
    myAppFile = syntaxPathOf(call.app(), folded);
    call.setHeaderLine(lineNumber);
    resultat = compiled ? runCompiled(call, programPath, myAppFile)
                        : runScript(call, programPath, myAppFile);
    break;
  }
  return resultat;
}

std::string CallZEL_Executer(std::string appDir, std::string programPath) {
  const std::lock_guard<std::recursive_mutex> lock(engineMutex());
  Call call;
  return executeProgram(call, std::move(appDir), std::move(programPath));
}
