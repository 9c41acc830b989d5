#include "base/markers.h"

std::string declaredName(std::string text, bool declaration) {
  text = goReplace(std::move(text), "(CZEL)", "");
  text = goReplace(std::move(text), ":s:", "");
  if (declaration) text = goReplace(std::move(text), "(CURL)", "");
  return goReplace(std::move(text), ";", "");
}

