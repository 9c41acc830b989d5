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

// Writes the block out and empties it. False when writing failed.
bool flush(std::string& block, std::FILE* out) {
  const bool written = std::fwrite(block.data(), 1, block.size(), out) == block.size();
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

// Writes one compiled line per source line, a large block at a time.
// False when writing failed.
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

// Compiles `source` into `output` through a temporary file that replaces the
// output only once the whole program is written. Returns the message number.
std::string compileInto(std::ifstream& source, const std::string& output) {
  std::FILE* out = nullptr;
  const std::string temporary = createTemporaryBeside(output, out);
  if (temporary.empty()) return "11";
  const bool written = compileLines(source, out);
  const bool closed = std::fclose(out) == 0;
  if (ErrorEnCrypt) {
    std::remove(temporary.c_str());
    std::remove(output.c_str());
    return "9";
  }
  if (!written || !closed || std::rename(temporary.c_str(), output.c_str()) != 0) {
    std::remove(temporary.c_str());
    return "11";
  }
  return "10";
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
  return finish(std::stoi(number), goReplace(goResponseLANG(number), ":E1:", output));
}
