#include "exec/runners.h"

#include <fstream>
#include <string>

#include "compile/cipher.h"
#include "exec/statement.h"
#include "cache/disk_cache.h"
#include "support/text.h"
#include "syntax/syntax_search.h"
#include "zel/outcome.h"
#include "zel/state.h"

namespace {

// Adds `line` to the pending statement text. Returns true when the line ends
// a statement: `line` then holds the whole statement and nothing is pending.
bool completeStatement() {
  if (line.find(';') == std::string::npos) {
    dataToSave += line;
    return false;
  }
  if (!dataToSave.empty()) {
    dataToSave += line;
    line = std::move(dataToSave);
    dataToSave.clear();
  }
  return true;
}

// What a run keeps from one statement to the next.
struct Run {
  Call& call;
  const std::string& programPath;
  const std::string& syntaxPath;
  std::string input;  // the module input, built in place for each statement
};

// Runs the statement in `line` if the syntax search accepts it. Returns true
// when a module was called; `line` loses its "(ZE)" and "(CZEL)" markers.
bool runLine(Run& run, int lineNumber) {
  // A comment is never run, whatever the previous result holds, and costs
  // nothing.
  if (isPassedOver(line)) return false;
  Call& call = run.call;
  const StatementScope statement(call.app());
  call.setLine(lineNumber);
  SyntaxMatch match = searchStatement(call, run.syntaxPath, line);
  // The search's answer is the result until a module gives one; a program's
  // header line that no form accepts is not counted as a failure.
  const bool header = !match.accepted && isHeaderLine(line);
  if (line.find('(') != std::string::npos) line = withoutStatementMarkers(std::move(line));
  if (!match.accepted) {
    call.store(std::move(match.result), !header);
    return false;
  }
  call.store(std::move(match.result));
  run.input.assign(run.programPath).append(1, ';').append(line);
  call.store(runAcceptedStatement(call, match, run.input));
  applyStopTest(call);
  return true;
}

// True when `text` may hold one of the markers the readers look for: each
// of them ("##", "==-;", "\n\t", ":s:", and the cipher markers, which begin
// with "-") holds one of these characters, as does a line break ("\r").
// Most statements hold none, and one scan settles them.
bool mayHoldMarker(const std::string& text) {
  for (const char c : text) {
    switch (c) {
      case '#': case '=': case '\n': case '\r': case ':': case '-':
        return true;
      default:
        break;
    }
  }
  return false;
}

// The line buffer grows to the longest line a run reads (a compiled line is
// about twelve times its source) and lives as long as the process: give the
// room back when a run ends.
void releaseLongLineRoom() {
  if (line.capacity() > (1u << 20)) line.shrink_to_fit();
}

}  // namespace

std::string programOpenFailure(Call& call, const std::string& programPath) {
  call.store(call.message(kCannotOpen, programPath));
  return resultat;
}

std::string runScript(Call& call, const std::string& programPath, const std::string& syntaxPath) {
  std::ifstream file;
  if (!openForReading(programPath, file)) return programOpenFailure(call, programPath);
  Run run{call, programPath, syntaxPath, {}};
  // A run never continues a statement left unterminated by an earlier run.
  dataToSave.clear();
  int lineNumber = 0;
  while (std::getline(file, line)) {
    if (runEnding()) {
      noteRunEnded(call);
      break;
    }
    ++lineNumber;
    if (line.empty()) continue;
    const bool marked = mayHoldMarker(line);
    if (marked) {
      if (containsAny(line, {"##", "==-;", "\n\t", ":s:"})) continue;
      if (hasCipherMarker(line)) line = base64_decode(decipherLine(line));
    }
    // Pending lines joined to this one may hold what the scan did not see.
    const bool joining = !dataToSave.empty();
    if (!completeStatement()) continue;
    if (marked || joining) line = withoutLineBreaks(std::move(line));
    if (!runLine(run, lineNumber)) continue;
    // A stop answer ends the run with message 12 as its result.
    if (runEnding()) {
      noteRunEnded(call);
      break;
    }
    // The first non-empty module result of the process is held back.
    if (call.holdsBackFirstResult && FirstResponse.empty()) {
      FirstResponse = resultat;
      resultat.clear();
    }
  }
  releaseLongLineRoom();
  return resultat;
}

std::string runCompiled(Call& call, const std::string& programPath,
                        const std::string& syntaxPath) {
  std::ifstream file;
  if (!openForReading(programPath, file)) return programOpenFailure(call, programPath);
  Run run{call, programPath, syntaxPath, {}};
  dataToSave.clear();
  // Plain text of compiled lines that had no ";" in the source: the start of
  // a statement that goes on over the next lines, as it did in the source.
  std::string unterminated;
  int lineNumber = 0;
  while (std::getline(file, line)) {
    if (runEnding()) {
      noteRunEnded(call);
      break;
    }
    ++lineNumber;
    if (!completeStatement()) continue;
    if (line.empty() || containsAny(line, {"##", "==-;", "\n\t"})) continue;
    // "-;" is the compiled form of an empty source line, which the source
    // skips too.
    if (line == "-;") continue;
    if (hasCipherMarker(line)) {
      const std::string plain = base64_decode(decipherLine(line));
      const size_t semicolon = plain.find(';');
      if (semicolon == std::string::npos) {
        if (!plain.empty() && !containsAny(plain, {"##", "==-;", "\n\t", ":s:"})) {
          unterminated += plain;
        }
        continue;
      }
      // The text before the first ";"; assigned in place, so that `line`
      // keeps the room the long compiled lines needed.
      line.assign(plain, 0, semicolon);
    }
    if (!unterminated.empty()) {
      line.insert(0, unterminated);
      unterminated.clear();
    }
    line = withoutLineBreaks(std::move(line));
    if (!runLine(run, lineNumber)) continue;
    if (runEnding()) {
      noteRunEnded(call);
      break;
    }
    if (call.holdsBackFirstResult && FirstResponse.empty()) FirstResponse = resultat;
  }
  releaseLongLineRoom();
  return resultat;
}

namespace {

// A call for the application of the latest Executer or Commandes call.
template <class Runner>
std::string classicRun(Runner run, const std::string& programPath, const std::string& syntaxPath) {
  Call call;
  call.setApp(myAbsolutePathDirApp);
  return run(call, programPath, syntaxPath);
}

}  // namespace

std::string goLoadScript(std::string programPath, std::string syntaxPath) {
  return classicRun(runScript, programPath, syntaxPath);
}

std::string goLoadZEL(std::string programPath, std::string syntaxPath) {
  return classicRun(runCompiled, programPath, syntaxPath);
}
