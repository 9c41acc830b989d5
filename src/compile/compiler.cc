#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "compile/cipher.h"
#include "support/lang.h"
#include "support/request_log.h"
#include "support/text.h"
#include "zel/outcome.h"
#include "zel/state.h"
#include "zel/zel.h"

namespace {

// The source path with every ".txt", then every ".db", replaced by the suffix.
std::string outputPathOf(const std::string& source, const std::string& suffix) {
  return goReplace(goReplace(source, ".txt", suffix), ".db", suffix);
}

// True when both paths name the same file, as texts or on disk.
bool sameFile(const std::string& a, const std::string& b) {
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

// A new, empty temporary file beside `output`, with the permissions a newly
// created file would get. Returns its path, or "" when it cannot be made.
std::string createTemporaryBeside(const std::string& output, std::FILE*& file) {
  std::string path = directoryOf(output) + "/.zel-compile-XXXXXX";
  const int fd = mkstemp(&path[0]);
  if (fd < 0) return "";
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
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
// the matching piece of the line's Base64 text.
bool addLongCompiledLine(const std::string& line, std::string& block, std::FILE* out) {
  constexpr size_t kPiece = 3 * 4096;
  static std::string base64;  // reused: one piece after another
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

// Writes one compiled line per source line, a large block at a time, to
// `out`, or nowhere when `out` is null. False when writing or reading failed.
bool compileLines(std::ifstream& source, std::FILE* out) {
  std::string sourceLine;
  std::string block;
  // Room for a full block and the compiled text of one more piece or line.
  block.reserve(2 * kBlock);
  bool written = true;
  while (std::getline(source, sourceLine)) {
    if (sourceLine.size() > kBlock / 16) {
      written = addLongCompiledLine(sourceLine, block, out) && written;
    } else {
      appendCompiledLine(sourceLine, block);
    }
    block += '\n';
    if (block.size() >= kBlock) written = flush(block, out) && written;
  }
  written = flush(block, out) && written;
  return written && !source.bad();
}

bool isDirectory(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Compiles `source` into a temporary file beside `output` that replaces the
// output only once the whole program is written, so the output appears
// whole or not at all. A failed compilation removes the old output: it was
// compiled from an earlier source. Returns the message number, "" when the
// temporary file cannot be made.
std::string compileThroughTemporary(std::ifstream& source, const std::string& output) {
  std::FILE* out = nullptr;
  const std::string temporary = createTemporaryBeside(output, out);
  if (temporary.empty()) return "";
  const bool written = compileLines(source, out);
  const bool closed = std::fclose(out) == 0;
  if (ErrorEnCrypt) {
    std::remove(temporary.c_str());
    unlink(output.c_str());  // never a directory: unlink does not remove one
    return "9";
  }
  if (!written || !closed || std::rename(temporary.c_str(), output.c_str()) != 0) {
    std::remove(temporary.c_str());
    return "11";
  }
  return "10";
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
std::string compileDirectly(std::ifstream& source, const std::string& output) {
  std::FILE* out = openExistingForWriting(output);
  if (out == nullptr) return "11";
  const bool readable = compileLines(source, nullptr);
  source.clear();
  if (ErrorEnCrypt || !readable || !source.seekg(0)) {  // seekg: the source is read twice
    std::fclose(out);
    return ErrorEnCrypt ? "9" : "11";
  }
  const bool written = empty(out) && compileLines(source, out);
  if (ErrorEnCrypt) {
    empty(out);
    std::fclose(out);
    return "9";
  }
  const bool closed = std::fclose(out) == 0;
  return written && closed ? "10" : "11";
}

// Compiles `source` into `output`. Returns the message number.
std::string compileInto(std::ifstream& source, const std::string& output) {
  // A directory at the output path is never written over nor removed.
  if (isDirectory(output)) return "11";
  const std::string number = compileThroughTemporary(source, output);
  return number.empty() ? compileDirectly(source, output) : number;
}

std::string finish(int number, std::string result) {
  resultat = std::move(result);
  recordMessage(number);
  goAddToLog(resultat);
  return resultat;
}

}  // namespace

std::string CallZEL_Compiler(std::string sourcePath, std::string outputSuffix) {
  const std::lock_guard<std::recursive_mutex> lock(engineMutex());
  beginOutcome();
  myAppFile = sourcePath;
  myDataFile = outputSuffix;
  ErrorEnCrypt = false;
  const std::string output = outputPathOf(sourcePath, outputSuffix);
  // Compiling a file onto itself would destroy the source.
  if (sameFile(sourcePath, output)) {
    return finish(11, goReplace(goResponseLANG("11"), ":E1:", output));
  }
  std::ifstream source;
  if (!openForReading(sourcePath, source)) {
    return finish(4, goReplace(goResponseLANG("4"), ":E1:", sourcePath));
  }
  const std::string number = compileInto(source, output);
  // Only message 11 names the output; messages 9 and 10 are shown as the
  // catalogue writes them, ":E1:" included.
  if (number != "11") return finish(std::stoi(number), goResponseLANG(number));
  return finish(11, goReplace(goResponseLANG(number), ":E1:", output));
}
