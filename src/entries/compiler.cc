#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <vector>

#include "compile/cipher.h"
#include "compile/request_log.h"
#include "base/text.h"
#include "call/call.h"
#include "base/state.h"
#include "entries/entries.h"
#include "zel/zel.h"

namespace {

// The source path with every ".txt", then every ".db", replaced by the suffix.
std::string outputPathOf(const std::string& source, const std::string& suffix) {
  return goReplace(goReplace(source, ".txt", suffix), ".db", suffix);
}

// True when both paths name the same file, as texts or on disk.
bool namesSameFile(const std::string& a, const std::string& b) {
  if (a == b) return true;
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 &&
         sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::string directoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The process's file creation mask, read from /proc/self/status without
// changing it: setting it, even for an instant, gives a file another thread
// creates meanwhile the wrong mode. 077 when it cannot be read.
mode_t processUmask() {
  std::ifstream status("/proc/self/status");
  std::string entry;
  while (std::getline(status, entry)) {
    if (entry.compare(0, 6, "Umask:") == 0) {
      return static_cast<mode_t>(std::strtoul(entry.c_str() + 6, nullptr, 8) & 0777);
    }
  }
  return 077;
}

// A new, empty temporary file beside `output`, with the permissions a newly
// created file would get. Returns its path, or "" when it cannot be made.
std::string createTemporaryBeside(const std::string& output, std::FILE*& file) {
  std::string path = directoryOf(output) + "/.zel-compile-XXXXXX";
  const int fd = mkstemp(&path[0]);
  if (fd < 0) return "";
  fchmod(fd, 0666 & ~processUmask());
  file = fdopen(fd, "wb");
  if (file == nullptr) {
    close(fd);
    std::remove(path.c_str());
    return "";
  }
  return path;
}

constexpr size_t kBlock = 1 << 20;

// Writes the block out and empties it. False when writing failed. With no
// file (a trial compilation) the block is dropped.
bool flush(std::string& block, std::FILE* out) {
  const bool written =
      out == nullptr || std::fwrite(block.data(), 1, block.size(), out) == block.size();
  block.clear();
  return written;
}

// Adds the compiled line of a long source line to the block piece by piece,
// writing the block out whenever it is full, so that memory holds the source
// line and one block, not the whole compiled line (about twelve times as
// long). The Base64 text of a piece whose length is a multiple of three is
// the matching piece of the line's Base64 text. `base64` is the caller's
// room for each piece's text.
bool addLongCompiledLine(const std::string& line, std::string& block, std::FILE* out,
                         std::string& base64) {
  constexpr size_t kPiece = 3 * 4096;
  bool written = true;
  for (size_t at = 0; at < line.size(); at += kPiece) {
    base64.clear();
    const size_t n = std::min(kPiece, line.size() - at);
    base64_encode(reinterpret_cast<const unsigned char*>(line.data() + at),
                  static_cast<unsigned int>(n), base64);
    appendSubstituted(base64, block);
    if (block.size() >= kBlock) written = flush(block, out) && written;
  }
  block += "-;";
  return written;
}

// What compileLines came to: whether writing and reading went well, and
// whether some line could not be enciphered.
struct LinesCompiled {
  bool written;
  bool failed;
};

// Writes one compiled line per source line, a large block at a time, to
// `out`, or nowhere when `out` is null. The numbers of the lines that cannot
// be enciphered go to `failedLines` when it is given.
LinesCompiled compileLines(std::ifstream& source, std::FILE* out, std::vector<int>* failedLines) {
  std::string sourceLine;
  std::string block;
  std::string base64;  // reused from one line (or piece) to the next
  // Room for a full block and the compiled text of one more piece or line.
  block.reserve(2 * kBlock);
  bool written = true;
  bool failed = false;
  for (int number = 1; std::getline(source, sourceLine); ++number) {
    // A long line always enciphers.
    bool enciphered = true;
    if (sourceLine.size() > kBlock / 16) {
      written = addLongCompiledLine(sourceLine, block, out, base64) && written;
    } else {
      enciphered = appendCompiledLine(sourceLine, block, base64);
    }
    if (!enciphered) {
      failed = true;
      if (failedLines != nullptr) failedLines->push_back(number);
    }
    block += '\n';
    if (block.size() >= kBlock) written = flush(block, out) && written;
  }
  written = flush(block, out) && written;
  return {written && !source.bad(), failed};
}

bool isDirectory(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Compiles `source` into a temporary file beside `output` that replaces the
// output only once the whole program is written, so the output appears
// whole or not at all. A failed compilation removes the old output: it was
// compiled from an earlier source. Returns the message number, kNoMessage
// when the temporary file cannot be made.
Message compileThroughTemporary(std::ifstream& source, const std::string& output,
                                std::vector<int>& failedLines) {
  std::FILE* out = nullptr;
  const std::string temporary = createTemporaryBeside(output, out);
  if (temporary.empty()) return kNoMessage;
  const LinesCompiled lines = compileLines(source, out, &failedLines);
  const bool closed = std::fclose(out) == 0;
  if (lines.failed) {
    std::remove(temporary.c_str());
    unlink(output.c_str());  // never a directory: unlink does not remove one
    return kCompileFailed;
  }
  if (!lines.written || !closed || std::rename(temporary.c_str(), output.c_str()) != 0) {
    std::remove(temporary.c_str());
    return kCannotWrite;
  }
  return kCompiled;
}

// An existing regular file at `path` opened for writing, untouched so far;
// null when there is none or it cannot be written. Opened without waiting,
// so that a pipe at the path cannot hold the compiler.
std::FILE* openExistingForWriting(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat info;
  std::FILE* file = nullptr;
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && fcntl(fd, F_SETFL, 0) == 0) {
    file = fdopen(fd, "wb");
  }
  if (file == nullptr) close(fd);
  return file;
}

// Empties a file opened for writing, what is still buffered included.
bool empty(std::FILE* file) {
  return std::fflush(file) == 0 && ftruncate(fileno(file), 0) == 0;
}

// Compiles `source` straight into the existing file at `output`, for a
// writable file in a directory where no temporary file can be made. This
// cannot be atomic, so the file is only truncated once a trial compilation
// has read the whole source and found every line compilable: a failed
// compilation (message 9) leaves the old file as it was, since it cannot be
// removed from such a directory either. What remains unguarded is a write
// or read that fails half-way (a full disk: message 11, the file partly
// written) and a source that changes between the two passes so that a line
// no longer compiles (message 9, the file emptied).
Message compileDirectly(std::ifstream& source, const std::string& output,
                        std::vector<int>& failedLines) {
  std::FILE* out = openExistingForWriting(output);
  if (out == nullptr) return kCannotWrite;
  const LinesCompiled trial = compileLines(source, nullptr, &failedLines);
  source.clear();
  if (trial.failed || !trial.written || !source.seekg(0)) {  // seekg: the source is read twice
    std::fclose(out);
    return trial.failed ? kCompileFailed : kCannotWrite;
  }
  LinesCompiled lines{false, false};
  if (empty(out)) lines = compileLines(source, out, nullptr);
  if (lines.failed) {
    empty(out);
    std::fclose(out);
    return kCompileFailed;
  }
  const bool closed = std::fclose(out) == 0;
  return lines.written && closed ? kCompiled : kCannotWrite;
}

// Compiles `source` into `output`. Returns the message that tells how it
// went; the lines that cannot be enciphered go to `failedLines`.
Message compileInto(std::ifstream& source, const std::string& output,
                    std::vector<int>& failedLines) {
  // A directory at the output path is never written over nor removed.
  if (isDirectory(output)) return kCannotWrite;
  const Message message = compileThroughTemporary(source, output, failedLines);
  if (message != kNoMessage) return message;
  failedLines.clear();
  return compileDirectly(source, output, failedLines);
}

// Stores the compilation's result and writes it to the request log. The
// classic ErrorEnCrypt is written here, once per compilation: set when a
// line could not be enciphered.
std::string finish(Call& call, Result result, bool counts = true) {
  ErrorEnCrypt = result.message == kCompileFailed;
  call.store(std::move(result), counts);
  call.outcome.logged = goAddToLog(call.result());
  return call.result();
}

}  // namespace

std::string compileScript(Call& call, std::string sourcePath, std::string outputSuffix) {
  myAppFile = sourcePath;
  myDataFile = outputSuffix;
  const std::string output = outputPathOf(sourcePath, outputSuffix);
  call.outcome.output = output;
  // No path holding a NUL byte reaches the C library: the library would
  // stop at the NUL and write a file the caller never named.
  if (holdsNul(sourcePath)) {
    return finish(call, call.message(kFileNotFound, withVisibleNul(sourcePath)));
  }
  // Compiling a file onto itself would destroy the source.
  if (holdsNul(output) || namesSameFile(sourcePath, output)) {
    return finish(call, call.message(kCannotWrite, withVisibleNul(output)));
  }
  std::ifstream source;
  if (!openForReading(sourcePath, source)) {
    return finish(call, call.message(kFileNotFound, sourcePath));
  }
  std::vector<int> failedLines;
  const Message message = compileInto(source, output, failedLines);
  // Only message 11 names the output; messages 9 and 10 are shown as the
  // catalogue writes them, ":E1:" included.
  if (message == kCannotWrite) return finish(call, call.message(message, output));
  Result result = call.message(message);
  // Each line that cannot be enciphered is a failure of its own.
  for (const int number : failedLines) call.addFailure(result, number);
  return finish(call, std::move(result), failedLines.empty());
}

std::string CallZEL_Compiler(std::string sourcePath, std::string outputSuffix) {
  const std::lock_guard<std::recursive_mutex> lock(engineMutex());
  Call call;
  call.setApp(myAbsolutePathDirApp);
  return compileScript(call, std::move(sourcePath), std::move(outputSuffix));
}
