// How an engine call comes to its result.
//
// Every engine step returns what it produced as a value, a Result: the text,
// the catalogue message it is (a named constant; none for a module's answer)
// and whether it reports a failure. The step's caller hands it to
// Call::store, the one place that writes both the classic process-wide
// result text (resultat) and the call's own record: the message and line of
// the latest result, and every failure in order. Each entry call has a
// record of its own, so a module calling back into the engine leaves its
// caller's record alone.
#ifndef ZEL_ZEL_OUTCOME_H_
#define ZEL_ZEL_OUTCOME_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
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

// One engine call in progress: the application it works for, the
// catalogue its messages come from, and its record.
class Call {
 public:
  // A call's start and end each make the next look at the disk check for
  // changes (cache/watch.h): a change made before a call is seen by it, and
  // what a nested call wrote by its caller's next statement.
  Call();
  ~Call();
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;

  // The application directory, and the catalogue: <app>/node_modules/
  // zel_linux/lang.conf unless `catalog` names another file.
  void setApp(std::string app, std::string catalog = "");
  const std::string& app() const { return app_; }
  const std::string& catalog() const { return catalog_; }
  // The catalogue zel ships, whose text a message missing from the
  // application's catalogue takes (a home laid out before the message
  // existed), so that no failure is reported with an empty text. Empty (the
  // classic entries): a missing message stays empty.
  void setShippedCatalog(std::string catalog) { shippedCatalog_ = std::move(catalog); }
  // <app>/node_modules/ and <app>/node_modules/korrin_linux/.
  const std::string& packDir() const { return packDir_; }
  const std::string& syntaxModuleDir() const { return syntaxModuleDir_; }

  // The text of catalogue message `number`, every ":E1:" replaced by
  // `fill`; the catalogue's failure text when it cannot be read; the
  // shipped catalogue's text when the application's has no such message.
  Result message(Message number) const;
  Result message(Message number, const std::string& fill) const;
  // The catalogue's text of message `number` as the cache holds it, without
  // a copy: valid until the next engine step. Null when the catalogue
  // cannot be read.
  const std::string* messageText(Message number) const;
  // messageText(kStopAnswer), looked up again only when the disk may have
  // changed: every statement asks for it.
  const std::string* stopAnswer() const;

  // The physical line of the statement being run (0: none). Results stored
  // from now on, and an exception thrown meanwhile, carry it.
  void setLine(int line) { line_ = line; }
  int line() const { return line_; }

  // The physical line of the program's header (0: none). A statement that
  // spans it and that no form accepts is not counted as a failure; the
  // same text anywhere else is.
  void setHeaderLine(int line) { headerLine_ = line; }
  int headerLine() const { return headerLine_; }

  // Stores a step's result: resultat takes its text, the record its
  // message and the current line, and a failure is added to the record's
  // failures (unless `counts` is false: a program's header line).
  void store(Result result, bool counts = true);
  // Adds a failure to the record without storing it as the result.
  void addFailure(const Result& failure, int line);
  // Adds the result the statement on `line` came to (resultat, with the
  // message of the latest result stored) when the call keeps results.
  void addStatementResult(int line);
  bool keepsResults = false;
  // How many failures, and how many results, the record lists; the rest
  // are only counted.
  size_t listCap = kMaxDiagnostics;

  // The classic entries hold the first module result of the process back
  // (FirstResponse); isolated calls hold nothing back.
  bool holdsBackFirstResult = true;
  // Isolated calls (promise API, pool) also fail a program that would skip
  // its statements in silence; the classic entries keep quiet about it.
  bool isolated() const { return !holdsBackFirstResult; }

  Outcome outcome;

 private:
  std::string app_;
  std::string catalog_;
  std::string shippedCatalog_;
  std::string packDir_;
  std::string syntaxModuleDir_;
  int line_ = 0;
  int headerLine_ = 0;
  // stopAnswer()'s text, and the disk generation and cache evictions count
  // it was looked up in (generation 0: look it up again).
  mutable const std::string* stop_ = nullptr;
  mutable uint64_t stopGeneration_ = 0;
  mutable uint64_t stopEvictions_ = 0;
};

// True when the run in progress must end before its next statement: a stop
// answer under runCall, or a cancel request. One load of a flag.
extern std::atomic<bool>* runEndFlag;
inline bool runEnding() { return runEndFlag->load(std::memory_order_relaxed); }

// The runners call this when they leave a run early because runEnding() was
// set before a statement: records a cancel unless a stop ended the run.
void noteRunEnded(Call& call);

// The stop answer was found: stores message 12. Ends the process with exit
// status 0, unless the caller is runCall: the run then ends before its next
// statement and the record says stopped.
void stopRun(Call& call);

// Names the module being called when an exception leaves it, for the
// record of the call that catches it (runCall). Called while the exception
// propagates.
void noteThrowingModule(const std::string& path);

// Runs `entry` under the engine lock with a fresh record. A stop answer
// ends the run instead of the process; setting `cancel` (from any thread)
// ends a program run before its next statement. Exceptions are caught and
// recorded with the line being run. An `isolated` call starts from a clean
// engine state (no result, nothing held back, no application directory)
// and puts the process-wide state back as it found it, so the classic
// entries see only what classic calls left. The state modules keep per call
// (zelCallState) is the call's own and freed when it ends when the call is
// isolated and `ownState`; otherwise the process-wide one. Returns the
// record with the entry's result.
Outcome runCall(std::atomic<bool>& cancel, bool isolated,
                const std::function<std::string(Call&)>& entry, bool ownState = true);

#endif  // ZEL_ZEL_OUTCOME_H_
