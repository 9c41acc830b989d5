#include "base/state.h"

std::string myAbsolutePathDirApp;
std::string resultat;
std::string line;
std::string myAppFile;
std::string myDataFile;
std::string dataToSave;
std::string FirstResponse;
std::string lineLang;
std::string lineSyntaxesExist;
std::string lineSyntaxesExistLib;
std::string myDirPath;
bool ErrorEnCrypt = false;

const std::string base64_chars =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZ"
    "abcdefghijklmnopqrstuvwxyz"
    "0123456789+/";

std::recursive_mutex& engineMutex() {
  // Built on first use, and never destroyed: a thread may still be inside
  // the engine while the process exits.
  static std::recursive_mutex* mutex = new std::recursive_mutex;
  return *mutex;
}
