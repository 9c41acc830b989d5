#include "exec/runners.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <istream>
#include <memory>
#include <string>

#include "compile/cipher.h"
#include "exec/statement.h"
#include "cache/disk_cache.h"
#include "base/markers.h"
#include "base/text.h"
#include "syntax/syntax_search.h"
#include "call/call.h"
#include "base/state.h"

namespace {

// True when `text` holds the byte `c`: one library scan, without the
// string search's own call around it (this runs on every line).
bool holdsByte(const std::string& text, char c) {
  return std::memchr(text.data(), c, text.size()) != nullptr;
}

// The text a run reads its statements from: the line just read, which
// becomes the statement to run, and the text read since the last statement
// that is not one yet. The run's own: a module calling back into the engine
// runs with another.
struct StatementText {
  std::string line;
  std::string pending;
};

// Adds the line just read to the pending text. Returns true when the line
// ends a statement: `text.line` then holds the whole statement and nothing
// is pending.
bool completeStatement(StatementText& text) {
  if (!holdsByte(text.line, ';')) {
    text.pending += text.line;
    return false;
  }
  if (!text.pending.empty()) {
    text.pending += text.line;
    text.line.swap(text.pending);
    text.pending.clear();
  }
  return true;
}

// What a run keeps from one statement to the next.
struct ProgramRun {
  Call& call;
  const std::string& programPath;
  const std::string& syntaxPath;
  // The module input, built in place for each statement: the program path
  // and ";" stay, the statement after them is replaced.
  std::string input;
};

// Runs `statement`, read from lines `firstLine` to `lineNumber`, if the
// syntax search accepts it. Returns true when a module was called;
// `statement` loses its "(ZE)" and "(CZEL)" markers.
bool runProgramStatement(ProgramRun& run, std::string& statement, int firstLine,
                         int lineNumber) {
  // A comment is never run, whatever the previous result holds, and costs
  // nothing.
  if (isPassedOver(statement)) return false;
  Call& call = run.call;
  const StatementScope scope(call.app(), call.appSerial());
  call.setLine(lineNumber);
  SyntaxVerdict match = searchStatement(call, run.syntaxPath, statement);
  // The search's answer is the result until a module gives one; a program's
  // header line that no form accepts is not counted as a failure. The
  // header is known by its position: a marker elsewhere exempts nothing.
  const int headerLine = call.headerLine();
  const bool header = !match.accepted && firstLine <= headerLine && headerLine <= lineNumber;
  if (holdsByte(statement, '(')) statement = withoutStatementMarkers(std::move(statement));
  if (!match.accepted) {
    call.store(std::move(match.result), !header);
    if (!header) call.addStatementResult(lineNumber);
    return false;
  }
  run.input.erase(run.programPath.size() + 1);
  run.input.append(statement);
  call.store(runAcceptedStatement(call, match, run.input));
  applyStopTest(call);
  call.addStatementResult(lineNumber);
  return true;
}

// True when `text` may hold one of the markers the readers look for: each
// of them ("##", "==-;", "\n\t", ":s:", and the cipher markers, which begin
// with "-") holds one of these characters, as does a line break ("\r").
// Most statements hold none, and one scan settles them.
// The library's set scan takes many bytes a step; it stops at a NUL byte,
// so the scan goes on after each one the text holds.
bool mayHoldMarker(const std::string& text) {
  const char* at = text.c_str();
  const char* const end = at + text.size();
  for (;;) {
    at += std::strcspn(at, "#=\n\r:-");
    if (at == end) return false;
    if (*at != '\0') return true;
    ++at;
  }
}

// The classic state a run leaves: the last line it read (empty when it read
// to the end) and the text after the program's last statement. Written
// once, as the run ends; the process-wide line buffer never keeps the room
// of a long line (a compiled line is about twelve times its source).
void leaveClassicText(const StatementText& text) {
  line = text.line;
  if (line.capacity() > (1u << 20)) line.shrink_to_fit();
  dataToSave = text.pending;
}

// What tells the two program formats apart: how the line just read takes
// its part in a statement, and how the first module result of the process
// is kept in FirstResponse.

// A plain program: each line is skipped or deciphered by itself, then lines
// are joined up to one holding ";".
struct ScriptFormat {
  // True when `text.line` now holds a statement to run.
  bool statement(StatementText& text) {
    std::string& read = text.line;
    if (read.empty()) return false;
    const bool marked = mayHoldMarker(read);
    if (marked) {
      if (isSkippedProgramLine(read)) return false;
      if (hasCipherMarker(read)) read = base64_decode(decipherLine(read));
    }
    // Pending lines joined to this one may hold what the scan did not see.
    const bool joining = !text.pending.empty();
    if (!completeStatement(text)) return false;
    if (marked || joining) read = withoutLineBreaks(std::move(read));
    return true;
  }
  // The text read since the last statement; it never ran.
  std::string pendingText(const StatementText& text) const { return text.pending; }
  // Held back: the run's result does not show it.
  void keepFirstResult(Call& call) { FirstResponse = call.takeResult(); }
};

// A compiled program: lines are joined up to one holding ";" first, then the
// statement is skipped or deciphered as a whole and cut before its first
// ";". A compiled line whose source had no ";" waits in `unterminated` and
// starts the next statement, as it did in the source.
struct CompiledFormat {
  std::string unterminated;

  bool statement(StatementText& text) {
    if (!completeStatement(text)) return false;
    std::string& read = text.line;
    if (read.empty() || isPassedOverLine(read)) return false;
    // "-;" is the compiled form of an empty source line, which the source
    // skips too.
    if (read == "-;") return false;
    if (hasCipherMarker(read) && !decipherCompiled(read)) return false;
    if (!unterminated.empty()) {
      read.insert(0, unterminated);
      unterminated.clear();
    }
    read = withoutLineBreaks(std::move(read));
    return true;
  }
  std::string pendingText(const StatementText& text) const { return unterminated + text.pending; }
  // Copied: the run's result shows it too.
  void keepFirstResult(Call& call) { FirstResponse = call.result(); }

 private:
  // Deciphers `read`. False when its source had no ";": the plain text then
  // waits for the next statement, unless the source would have skipped it.
  bool decipherCompiled(std::string& read) {
    const std::string plain = base64_decode(decipherLine(read));
    const size_t semicolon = plain.find(';');
    if (semicolon == std::string::npos) {
      if (!plain.empty() && !isSkippedProgramLine(plain)) {
        unterminated += plain;
      }
      return false;
    }
    // The text before the first ";"; assigned in place, so that `read`
    // keeps the room the long compiled lines needed.
    read.assign(plain, 0, semicolon);
    return true;
  }
};

// True when the run must end before its next statement (a stop answer, a
// cancel request or a time limit), which is then recorded.
bool endsHere(Call& call) {
  if (!programRunEnding()) return false;
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

// Reads a program's lines as std::getline does: up to a '\n', which is
// dropped; a last line without one still counts. What the stream holds is
// scanned and copied a block at a time, and the stream reads its source at
// the same points getline would have it read: when its buffer is used up.
class LineReader {
 public:
  explicit LineReader(std::istream& source)
      : source_(*source.rdbuf()), held_(new char[kBlock]) {}

  // The next line into `text`. False at the end, when nothing was left.
  bool next(std::string& text) {
    text.clear();
    bool extracted = false;
    for (;;) {
      if (at_ == size_ && !refill()) return extracted;
      extracted = true;
      const char* const start = held_.get() + at_;
      const size_t left = size_ - at_;
      const void* found = std::memchr(start, '\n', left);
      const size_t length = found != nullptr ? static_cast<const char*>(found) - start : left;
      text.append(start, length);
      at_ += length;
      if (found != nullptr) {
        ++at_;
        return true;
      }
    }
  }

 private:
  static constexpr std::streamsize kBlock = 1 << 16;

  // Takes what the stream's buffer holds (at most kBlock bytes), having it
  // read more when it holds nothing. False at the stream's end.
  bool refill() {
    at_ = size_ = 0;
    if (source_.sgetc() == std::char_traits<char>::eof()) return false;
    const std::streamsize buffered = std::min(source_.in_avail(), kBlock);
    const std::streamsize got = source_.sgetn(held_.get(), std::max<std::streamsize>(buffered, 1));
    size_ = got > 0 ? static_cast<size_t>(got) : 0;
    return size_ != 0;
  }

  std::streambuf& source_;
  // Read from the stream; what lies from at_ to size_ is not handed out yet.
  std::unique_ptr<char[]> held_;
  size_t at_ = 0, size_ = 0;
};

// Runs the program read from `source` statement by statement, the
// statements cut as `format` cuts them; `programPath` is what the modules
// are told the program is.
template <class Format>
std::string runProgram(Call& call, std::istream& source, const std::string& programPath,
                       const std::string& syntaxPath, Format format) {
  ProgramRun run{call, programPath, syntaxPath, programPath + ";"};
  // A run never continues a statement left unterminated by an earlier run.
  StatementText text;
  int lineNumber = 0;
  int firstLine = 1;    // where the statement being read began
  int pendingFrom = 0;  // the line where text not yet a statement began
  bool ended = false;
  LineReader lines(source);
  while (lines.next(text.line) && !(ended = endsHere(call))) {
    ++lineNumber;
    if (text.pending.empty()) firstLine = lineNumber;
    if (!format.statement(text)) {
      if (pendingFrom == 0 && holdsWords(format.pendingText(text))) pendingFrom = lineNumber;
      continue;
    }
    pendingFrom = 0;
    if (!runProgramStatement(run, text.line, firstLine, lineNumber)) continue;
    if ((ended = endsHere(call))) break;
    if (call.holdsBackFirstResult && FirstResponse.empty()) format.keepFirstResult(call);
  }
  if (!ended) noteUnfinished(call, format.pendingText(text), pendingFrom);
  leaveClassicText(text);
  return call.result();
}

}  // namespace

std::string programOpenFailure(Call& call, const std::string& programPath) {
  call.store(call.message(kCannotOpen, programPath));
  return call.result();
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

