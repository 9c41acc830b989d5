#include "exec/runners.h"

#include <array>
#include <fstream>
#include <istream>
#include <string>

#include "compile/cipher.h"
#include "exec/statement.h"
#include "cache/disk_cache.h"
#include "base/text.h"
#include "syntax/syntax_search.h"
#include "call/call.h"
#include "base/state.h"

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

// Runs the statement in `line`, read from lines `firstLine` to `lineNumber`,
// if the syntax search accepts it. Returns true when a module was called;
// `line` loses its "(ZE)" and "(CZEL)" markers.
bool runLine(Run& run, int firstLine, int lineNumber) {
  // A comment is never run, whatever the previous result holds, and costs
  // nothing.
  if (isPassedOver(line)) return false;
  Call& call = run.call;
  const StatementScope statement(call.app());
  call.setLine(lineNumber);
  SyntaxMatch match = searchStatement(call, run.syntaxPath, line);
  // The search's answer is the result until a module gives one; a program's
  // header line that no form accepts is not counted as a failure. The
  // header is known by its position: a marker elsewhere exempts nothing.
  const int headerLine = call.headerLine();
  const bool header = !match.accepted && firstLine <= headerLine && headerLine <= lineNumber;
  if (line.find('(') != std::string::npos) line = withoutStatementMarkers(std::move(line));
  if (!match.accepted) {
    call.store(std::move(match.result), !header);
    if (!header) call.addStatementResult(lineNumber);
    return false;
  }
  call.store(std::move(match.result));
  run.input.assign(run.programPath).append(1, ';').append(line);
  call.store(runAcceptedStatement(call, match, run.input));
  applyStopTest(call);
  call.addStatementResult(lineNumber);
  return true;
}

// True when `text` may hold one of the markers the readers look for: each
// of them ("##", "==-;", "\n\t", ":s:", and the cipher markers, which begin
// with "-") holds one of these characters, as does a line break ("\r").
// Most statements hold none, and one scan settles them.
bool mayHoldMarker(const std::string& text) {
  static const auto kLeads = [] {
    std::array<bool, 256> leads{};
    for (const unsigned char c : {'#', '=', '\n', '\r', ':', '-'}) leads[c] = true;
    return leads;
  }();
  for (const char c : text) {
    if (kLeads[static_cast<unsigned char>(c)]) return true;
  }
  return false;
}

// The line buffer grows to the longest line a run reads (a compiled line is
// about twelve times its source) and lives as long as the process: give the
// room back when a run ends.
void releaseLongLineRoom() {
  if (line.capacity() > (1u << 20)) line.shrink_to_fit();
}

// What tells the two program formats apart: how the line just read (in
// `line`) takes its part in a statement, and how the first module result of
// the process is kept in FirstResponse.

// A plain program: each line is skipped or deciphered by itself, then lines
// are joined up to one holding ";".
struct ScriptFormat {
  // True when `line` now holds a statement to run.
  bool statement() {
    if (line.empty()) return false;
    const bool marked = mayHoldMarker(line);
    if (marked) {
      if (containsAny(line, {"##", "==-;", "\n\t", ":s:"})) return false;
      if (hasCipherMarker(line)) line = base64_decode(decipherLine(line));
    }
    // Pending lines joined to this one may hold what the scan did not see.
    const bool joining = !dataToSave.empty();
    if (!completeStatement()) return false;
    if (marked || joining) line = withoutLineBreaks(std::move(line));
    return true;
  }
  // The text read since the last statement; it never ran.
  std::string pendingText() const { return dataToSave; }
  // Held back: the run's result does not show it.
  void keepFirstResult() {
    FirstResponse = resultat;
    resultat.clear();
  }
};

// A compiled program: lines are joined up to one holding ";" first, then the
// statement is skipped or deciphered as a whole and cut before its first
// ";". A compiled line whose source had no ";" waits in `unterminated` and
// starts the next statement, as it did in the source.
struct CompiledFormat {
  std::string unterminated;

  bool statement() {
    if (!completeStatement()) return false;
    if (line.empty() || containsAny(line, {"##", "==-;", "\n\t"})) return false;
    // "-;" is the compiled form of an empty source line, which the source
    // skips too.
    if (line == "-;") return false;
    if (hasCipherMarker(line) && !decipherCompiled()) return false;
    if (!unterminated.empty()) {
      line.insert(0, unterminated);
      unterminated.clear();
    }
    line = withoutLineBreaks(std::move(line));
    return true;
  }
  std::string pendingText() const { return unterminated + dataToSave; }
  // Copied: the run's result shows it too.
  void keepFirstResult() { FirstResponse = resultat; }

 private:
  // Deciphers `line`. False when its source had no ";": the plain text then
  // waits for the next statement, unless the source would have skipped it.
  bool decipherCompiled() {
    const std::string plain = base64_decode(decipherLine(line));
    const size_t semicolon = plain.find(';');
    if (semicolon == std::string::npos) {
      if (!plain.empty() && !containsAny(plain, {"##", "==-;", "\n\t", ":s:"})) {
        unterminated += plain;
      }
      return false;
    }
    // The text before the first ";"; assigned in place, so that `line`
    // keeps the room the long compiled lines needed.
    line.assign(plain, 0, semicolon);
    return true;
  }
};

// True when the run must end before its next statement (a stop answer, a
// cancel request or a time limit), which is then recorded.
bool endsHere(Call& call) {
  if (!runEnding()) return false;
  noteRunEnded(call);
  return true;
}

// True when `text` holds more than spaces, tabs and line breaks.
bool holdsWords(const std::string& text) {
  return text.find_first_not_of(" \t\r\n") != std::string::npos;
}

// Text left after a program's last ";" never ran: under an isolated call
// that is a failure (message 37, with the text's start) on the line where
// that text began, unless it would not have run with its ";" either (a
// comment).
void noteUnfinished(Call& call, const std::string& pending, int startLine) {
  if (!call.isolated() || !holdsWords(pending)) return;
  const std::string statement = withoutLineBreaks(pending);
  if (isPassedOver(statement)) return;
  call.addFailure(call.message(kUnfinished, shortened(statement)), startLine);
}

// Runs the program read from `source` statement by statement, the
// statements cut as `format` cuts them; `programPath` is what the modules
// are told the program is.
template <class Format>
std::string runProgram(Call& call, std::istream& source, const std::string& programPath,
                       const std::string& syntaxPath, Format format) {
  Run run{call, programPath, syntaxPath, {}};
  // A run never continues a statement left unterminated by an earlier run.
  dataToSave.clear();
  int lineNumber = 0;
  int firstLine = 1;    // where the statement being read began
  int pendingFrom = 0;  // the line where text not yet a statement began
  bool ended = false;
  while (std::getline(source, line) && !(ended = endsHere(call))) {
    ++lineNumber;
    if (dataToSave.empty()) firstLine = lineNumber;
    if (!format.statement()) {
      if (pendingFrom == 0 && holdsWords(format.pendingText())) pendingFrom = lineNumber;
      continue;
    }
    pendingFrom = 0;
    if (!runLine(run, firstLine, lineNumber)) continue;
    if ((ended = endsHere(call))) break;
    if (call.holdsBackFirstResult && FirstResponse.empty()) format.keepFirstResult();
  }
  if (!ended) noteUnfinished(call, format.pendingText(), pendingFrom);
  releaseLongLineRoom();
  return resultat;
}

}  // namespace

std::string programOpenFailure(Call& call, const std::string& programPath) {
  call.store(call.message(kCannotOpen, programPath));
  return resultat;
}

std::string runScript(Call& call, const std::string& programPath, const std::string& syntaxPath) {
  std::ifstream file;
  if (!openForReading(programPath, file)) return programOpenFailure(call, programPath);
  return runProgram(call, file, programPath, syntaxPath, ScriptFormat());
}

std::string runCompiled(Call& call, const std::string& programPath,
                        const std::string& syntaxPath) {
  std::ifstream file;
  if (!openForReading(programPath, file)) return programOpenFailure(call, programPath);
  return runProgram(call, file, programPath, syntaxPath, CompiledFormat());
}

std::string runProgramSource(Call& call, std::istream& source, const std::string& programPath,
                             const std::string& syntaxPath, bool compiled) {
  return compiled ? runProgram(call, source, programPath, syntaxPath, CompiledFormat())
                  : runProgram(call, source, programPath, syntaxPath, ScriptFormat());
}

