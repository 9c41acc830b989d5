// The request log: "./requests.log" in the process's working directory,
// holding the latest compiler result only.
#ifndef ZEL_SUPPORT_REQUEST_LOG_H_
#define ZEL_SUPPORT_REQUEST_LOG_H_

#include <string>

// Replaces the log's content with `entry` and "\n". Returns "" when written,
// or message 35 when the log cannot be opened (its old content then stays).
std::string goAddToLog(std::string entry);

#endif  // ZEL_SUPPORT_REQUEST_LOG_H_
