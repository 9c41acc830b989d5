// How an engine call comes to its result.
//
// Every engine step returns what it produced as a value, a Result
// (base/outcome.h): the text, the catalogue message it is (a named
// constant; none for a module's answer) and whether it reports a failure.
// The step's caller hands it to Call::store, the one place that writes the
// call's latest result text and its record: the message and line of the
// latest result, and every failure in order. The classic process-wide
// result text (resultat) is written from it once, as the call ends. Each
// entry call has a record of its own, so a module calling back into the
// engine leaves its caller's record alone.
#ifndef ZEL_CALL_CALL_H_
#define ZEL_CALL_CALL_H_

#include <atomic>
#include <cstdint>
#include <string>

#include "base/outcome.h"

// One engine call in progress: the application it works for, the
// catalogue its messages come from, and its record.
class Call {
 public:
  // A call's start and end each make the next look at the disk check for
  // changes (cache/watch.h): a change made before a call is seen by it, and
  // what a nested call wrote by its caller's next statement. A call starts
  // from the result the classic state holds (resultat: what the previous
  // call left) and leaves its own latest result there as it ends: the one
  // place resultat is read and written.
  Call();
  ~Call();
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;

  // The application directory, and the catalogue: <app>/node_modules/
  // zel_linux/lang.conf unless `catalog` names another file.
  void setApp(std::string app, std::string catalog = "");
  const std::string& app() const { return app_; }
  // A number given with each setApp, never twice in the process: the same
  // serial is the same application text, known without comparing it.
  uint64_t appSerial() const { return appSerial_; }
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

  // Stores a step's result: the call's latest result takes its text, the
  // record its message and the current line, and a failure is added to the
  // record's failures (unless `counts` is false: a program's header line).
  void store(Result&& result, bool counts = true);
  // The latest result text: the last one stored, or the one the call
  // started from. takeResult() moves it out, leaving it empty.
  const std::string& result() const { return result_; }
  std::string takeResult() { return std::move(result_); }
  // A mark in the order of the calls' stores and ends, and store() as of
  // such an earlier mark: when a call nested in this one ended after it
  // (a module that called back into the engine), the classic resultat keeps
  // the nested call's result as this call ends, as if this result had been
  // stored before the nested call.
  uint64_t mark() const;
  void storeAsOf(Result&& result, uint64_t mark);
  // While the module of an accepted statement runs, `text` (the acceptance,
  // not stored unless the module throws) is this call's result as of
  // `mark` for the calls nested in the module's; null when the module ends.
  void holdWhileModuleRuns(const std::string* text, uint64_t mark) {
    pending_ = text;
    pendingMark_ = mark;
  }
  // Adds a failure to the record without storing it as the result.
  void addFailure(const Result& failure, int line);
  // Adds the result the statement on `line` came to (the latest result,
  // with its message) when the call keeps results.
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
  static const std::string& resultAtStart();

  const Call* const outer_;  // the call this one is nested in, if any
  const std::string* pending_ = nullptr;
  uint64_t pendingMark_ = 0;
  std::string app_;
  uint64_t appSerial_ = 0;
  std::string catalog_;
  std::string shippedCatalog_;
  std::string packDir_;
  std::string syntaxModuleDir_;
  std::string result_;
  uint64_t storedAt_;  // the mark of the latest store, or of the call's start
  int line_ = 0;
  int headerLine_ = 0;
  // stopAnswer()'s text, and the disk generation and cache evictions count
  // it was looked up in (generation 0: look it up again).
  mutable const std::string* stop_ = nullptr;
  mutable uint64_t stopGeneration_ = 0;
  mutable uint64_t stopEvictions_ = 0;
};

// True when the run in progress must end before its next statement: a stop
// answer under recordedCall, or a cancel request. One load of a flag.
extern std::atomic<bool>* programEndFlag;
inline bool programRunEnding() { return programEndFlag->load(std::memory_order_relaxed); }

// The runners call this when they leave a run early because programRunEnding() was
// set before a statement: records a cancel unless a stop ended the run.
void noteRunEnded(Call& call);

// The stop answer was found: stores message 12. Ends the process with exit
// status 0, unless the caller is recordedCall: the run then ends before its next
// statement and the record says stopped.
void stopRun(Call& call);

// The run settings of one isolated run (recordedCall), for as long as it lives:
// programRunEnding() reads `cancel`, a stop answer ends the run instead of the
// process, and no stop is pending. The settings of the run it is nested in
// (a module calling back into the engine) come back when it ends.
class RecordedCallScope {
 public:
  explicit RecordedCallScope(std::atomic<bool>& cancel);
  ~RecordedCallScope();
  RecordedCallScope(const RecordedCallScope&) = delete;
  RecordedCallScope& operator=(const RecordedCallScope&) = delete;

 private:
  std::atomic<bool>* const flag_;
  const bool stopEndsRun_;
  const bool stopRequested_;
};

#endif  // ZEL_CALL_CALL_H_
