// What an engine call comes to, as values: the result of one step (its
// text, the catalogue message it is, whether it reports a failure) and the
// record of a whole call (its result, failures and how it ended). The call
// in progress that builds them is call/call.h.
#ifndef ZEL_BASE_OUTCOME_H_
#define ZEL_BASE_OUTCOME_H_

#include <cstddef>
#include <string>
#include <vector>

// The catalogue messages the engine reports, by number.
enum Message : int {
  kNoMessage = 0,
  kCannotOpen = 1,       // a program, syntax file or pack directory cannot be opened
  kLexicalError = 2,     // a syntax module's "(LEX)" answer
  kNotRecognised = 3,    // a syntax module's "(NF)" answer
  kFileNotFound = 4,     // a module (or the compiler's source) cannot be opened
  kCompileFailed = 9,    // a source line of 1 to 12 bytes cannot be enciphered
  kCompiled = 10,
  kCannotWrite = 11,     // the compiled program cannot be written
  kProgramEnded = 12,    // the stop answer ended the program
  kMarkedForm = 14,      // statement and form both carry "(ZE)"
  kNoSyntaxLine = 18,    // no syntax line could be offered to a syntax module
  kNotAccepted = 19,     // no syntax module accepted the statement
  kNoExtension = 20,     // an entry without extension among the packs
  kStopAnswer = 21,
  kLogNotWritten = 35,
  kNoHeader = 36,        // a program with statements names no syntax pack
  kUnfinished = 37,      // text after a program's last ";" never became a statement
};

// What one engine step produced.
struct Result {
  std::string text;
  Message message = kNoMessage;  // the catalogue message `text` is
  bool failed = false;           // the text reports a failure
  bool noCatalog = false;        // a message was asked for but the catalogue cannot be read
};

// A module's (or a syntax search's) own answer: no message, no failure.
Result answer(std::string text);
// A failure whose text is no catalogue message: a syntax module's refusal,
// the loader's text for a module it could not load.
Result refusal(std::string text);

// One failure of a call: the line it happened on (0 when none), its
// message (kNoMessage when its text is no catalogue message) and its text.
struct Diagnostic {
  int line;
  int message;
  std::string text;
};

// A call lists at most this many failures (and statement results, when
// asked for) unless it sets another listCap; the rest are only counted.
constexpr size_t kMaxDiagnostics = 100;

struct Outcome {
  std::string result;      // the text the entry returned
  int message = 0;         // catalogue number of the latest result; 0 when none
  int line = 0;            // physical line of the statement behind it; 0 when none
  bool failed = false;     // some step of the call failed (see diagnostics)
  bool stopped = false;    // a stop answer ended the run
  bool cancelled = false;  // a cancel request ended the run before its end
  bool threw = false;      // a module (or the engine) threw; see error
  bool noCatalog = false;  // a message was needed and the catalogue cannot be read
  std::string error;       // what() of the exception
  std::string modulePath;  // the module being called when it threw; "" if unknown
  std::string output;      // a compilation's output path
  bool logSkipped = false; // a compilation whose request log line could not be written
  std::vector<Diagnostic> diagnostics;
  size_t omitted = 0;      // failures beyond the call's listCap
  // Each statement's result in order, when the call keeps them (message:
  // the catalogue number of the text, as for a failure).
  std::vector<Diagnostic> results;
  size_t omittedResults = 0;  // results beyond the call's listCap
};

#endif  // ZEL_BASE_OUTCOME_H_
