// The request log: "./requests.log" in the process's working directory,
// holding the compiler's latest result only.
#ifndef ZEL_COMPILE_REQUEST_LOG_H_
#define ZEL_COMPILE_REQUEST_LOG_H_

#include <string>

// Replaces the log with one holding `entry` and "\n", whole or not at all
// (written beside it, then renamed over it). Returns true when written;
// false when the name holds something other than a regular file (a
// symbolic link, which is never followed, a FIFO, a directory) or the
// directory cannot be written. The old log then stays as it was.
bool goAddToLog(std::string entry);

#endif  // ZEL_COMPILE_REQUEST_LOG_H_
