#include "support/request_log.h"

#include <fstream>

#include "support/lang.h"

std::string goAddToLog(std::string entry) {
  std::ofstream log("./requests.log", std::ios::out | std::ios::trunc | std::ios::binary);
  if (!log.is_open()) return goResponseLANG("35");
  log << entry << '\n';
  return "";
}
