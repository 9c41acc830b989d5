// How an engine call came to its result.
//
// The engine records, where it stores a result, which catalogue message the
// result is, the physical line of the statement that produced it, and
// whether a stop answer or a cancel request ended the run. Callers that want
// the stop answer to end the run rather than the process, or that may cancel
// a run, call the entry through runCall.
#ifndef ZEL_ZEL_OUTCOME_H_
#define ZEL_ZEL_OUTCOME_H_

#include <atomic>
#include <functional>
#include <string>

struct Outcome {
  std::string result;      // the text the entry returned
  int message = 0;         // catalogue number of the result; 0 when none
  int line = 0;            // physical line of the statement behind it; 0 when none
  bool failed = false;     // a failure message, or a module the loader refused
  bool stopped = false;    // a stop answer ended the run
  bool cancelled = false;  // a cancel request ended the run before its end
  bool threw = false;      // a module (or the engine) threw; see error
  std::string error;       // what() of the exception
  std::string modulePath;  // the pack module being called when it threw; "" if unknown
};

// The record of the entry call in progress, or of the latest one.
Outcome& callOutcome();

// Clears the record; every entry calls it when it starts.
void beginOutcome();

// The statement at physical line `line` of a program is being run; messages
// recorded from now on carry that line.
void setStatementLine(int line);

// resultat now holds the text of catalogue message `number`. Records the
// number, the current statement line and whether the message is a failure.
void recordMessage(int number);

// resultat now holds a module's answer (or was emptied): no message.
void recordModuleResult();

// resultat now holds a failure text that is no catalogue message: the
// loader's text for a module it could not load, or a syntax module's refusal.
void recordUnnumberedFailure();

// True when the run in progress must end before its next statement: a stop
// answer under runCall, or a cancel request. One load of a flag.
extern std::atomic<bool>* runEndFlag;
inline bool runEnding() { return runEndFlag->load(std::memory_order_relaxed); }

// The runners call this when they leave a run early because runEnding() was
// set before a statement: records a cancel unless a stop ended the run.
void noteRunEnded();

// The stop answer was found (resultat already holds message 12). Ends the
// process with exit status 0, unless the caller is runCall: the run then
// ends before its next statement and the record says stopped.
void stopRun();

// Runs `entry` under the engine lock. A stop answer ends the run instead of
// the process; setting `cancel` (from any thread) ends a program run before
// its next statement. Exceptions are caught and recorded. Returns the record
// with the entry's result.
Outcome runCall(std::atomic<bool>& cancel, const std::function<std::string()>& entry);

#endif  // ZEL_ZEL_OUTCOME_H_
