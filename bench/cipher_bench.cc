// Throughput of the compiled-line encoding for long lines.
//
// Prints, for lines of 1 KB, 64 KB and 1 MB, the cost per source byte of
// writing a line (Base64 + encipher) and of reading it back (decipher +
// decode). The per-byte figures should stay roughly flat as lines grow.
#include <chrono>
#include <cstdio>
#include <random>
#include <string>

#include "compile/cipher.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void measure(size_t length) {
  std::mt19937 random(7);
  std::string line(length, ' ');
  for (char& c : line) c = static_cast<char>(' ' + random() % 95);

  // Repeat so that each size processes about 16 MB of source.
  const size_t rounds = std::max<size_t>(1, (16u << 20) / length);
  std::string compiled;
  auto start = Clock::now();
  for (size_t i = 0; i < rounds; ++i) compiled = goEnCryptZEL(goBase64(line)) + "-;";
  const double write = secondsSince(start);

  std::string back;
  start = Clock::now();
  for (size_t i = 0; i < rounds; ++i) back = base64_decode(goDeCryptZEL(compiled));
  const double read = secondsSince(start);

  if (back != line) std::printf("round trip FAILED for %zu bytes\n", length);
  const double bytes = static_cast<double>(length) * rounds;
  std::printf("%8zu B line  write %7.1f MB/s (%6.2f ns/B)  read %7.1f MB/s (%6.2f ns/B)\n",
              length, bytes / write / 1e6, write / bytes * 1e9, bytes / read / 1e6,
              read / bytes * 1e9);
}

}  // namespace

int main() {
  for (size_t length : {1u << 10, 64u << 10, 1u << 20}) measure(length);
  return 0;
}
