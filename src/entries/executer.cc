#include <fstream>
#include <istream>
#include <sstream>

#include "compile/cipher.h"
#include "exec/runners.h"
#include "syntax/syntax_search.h"
#include "entries/entries.h"
#include "call/call.h"
#include "base/markers.h"
#include "base/state.h"
#include "zel/zel.h"

namespace {

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

// What the header search found in a program.
enum class Header { kNone, kPlain, kCompiled, kRefused };

// Reads `source` up to its first header line and sets `syntaxPath` (and the
// classic myAppFile) to the syntax file it names and the call's header line
// to it; kRefused (with message 1 stored on the header's line) when it
// names one outside node_modules. A program without a header that holds more than comments
// and blank lines fails, under an isolated call, with message 36 on its
// first line that is neither.
Header findHeader(Call& call, std::istream& source, std::string& syntaxPath) {
  int lineNumber = 0;
  int firstStatement = 0;
  std::string line;
  while (std::getline(source, line)) {
    ++lineNumber;
    line = goReplace(std::move(line), "\r", "");
    if (line.empty() || isPassedOverLine(line)) continue;
    const bool compiled = hasCipherMarker(line);
    if (compiled) line = decipherStatement(line);
    if (!isHeaderLine(line)) {
      if (firstStatement == 0 && !isPassedOver(line) &&
          line.find_first_not_of(" \t") != std::string::npos) {
        firstStatement = lineNumber;
      }
      continue;
    }
    const std::string header = declaredName(line, false);
    // Programs come from users: a header may only name a syntax file below
    // node_modules, where the application's author installed packs.
    // Folded on its text: the kernel would resolve a ".." after a symbolic
    // link from the link's target, which may be outside the application.
    const std::string relative = headerRelativePath(header);
    const std::string folded = foldedPath(relative);
    if (!staysBelow(folded)) {
      call.setLine(lineNumber);
      call.store(call.message(kCannotOpen, withVisibleNul(relative)));
      return Header::kRefused;
    }
    syntaxPath = syntaxPathOf(call.app(), folded);
    myAppFile = syntaxPath;
    call.setHeaderLine(lineNumber);
    return compiled ? Header::kCompiled : Header::kPlain;
  }
  // A failure of the run, not a result: the run produced nothing.
  if (firstStatement != 0 && call.isolated()) {
    call.addFailure(call.message(kNoHeader), firstStatement);
  }
  return Header::kNone;
}

}  // namespace

std::string executeProgram(Call& call, std::string appDir, std::string programPath) {
  myAbsolutePathDirApp = appDir;
  call.setApp(std::move(appDir));
  std::ifstream file;
  if (!openForReading(programPath, file)) return programOpenFailure(call, programPath);
  // The first header of this file decides, whatever earlier calls ran.
  std::string syntaxPath;
  const Header header = findHeader(call, file, syntaxPath);
  file.close();
  if (header == Header::kPlain) return runScript(call, programPath, syntaxPath);
  if (header == Header::kCompiled) return runCompiled(call, programPath, syntaxPath);
  return call.result();
}

std::string executeProgramText(Call& call, std::string appDir, const std::string& text) {
  // As for a file: a module calling back into the engine works for this
  // application.
  myAbsolutePathDirApp = appDir;
  call.setApp(std::move(appDir));
  std::istringstream source(text);
  std::string syntaxPath;
  const Header header = findHeader(call, source, syntaxPath);
  if (header == Header::kNone || header == Header::kRefused) return call.result();
  // Run from the first line, as a file is run again from its start.
  source.clear();
  source.seekg(0);
  return runProgramSource(call, source, "", syntaxPath, header == Header::kCompiled);
}

std::string CallZEL_Executer(std::string appDir, std::string programPath) {
  const std::lock_guard<std::recursive_mutex> lock(engineMutex());
  Call call;
  return executeProgram(call, std::move(appDir), std::move(programPath));
}
