// Runs the standard input command loop for tests: zel_cmd_driver APP SYNTAX.
// Prints what the loop returned and the engine's result texts afterwards.
#include <cstdio>
#include <string>

#include "base/state.h"
#include "zel/zel.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: zel_cmd_driver APP SYNTAX\n");
    return 2;
  }
  myAbsolutePathDirApp = argv[1];
  const std::string rest = CallCMD(argv[2]);
  std::printf("returned=[%s]\nresultat=[%s]\nfirst=[%s]\n", rest.c_str(), resultat.c_str(),
              FirstResponse.c_str());
  return 0;
}
