#include "syntax/syntax_forms.h"

#include <fstream>

#include "cache/disk_cache.h"
#include "compile/cipher.h"
#include "lang/lang.h"
#include "base/markers.h"
#include "base/text.h"
#include "base/state.h"

bool toSyntaxLine(const std::string& raw, std::string& syntaxLine) {
  if (raw.empty() || isPassedOverLine(raw)) return false;
  syntaxLine = hasCipherMarker(raw) ? decipherStatement(raw) : raw;
  syntaxLine = withoutLineBreaks(std::move(syntaxLine));
  return !isSyntaxRemark(syntaxLine);
}

std::string parameterText(const std::string& syntaxLine) {
  return goReplace(goReplace(MyLastIndexOfParam(syntaxLine), " )", ""), ")", "");
}

std::string patternText(const std::string& syntaxLine) {
  const std::string raw = MyLastIndexOfParam(syntaxLine);
  std::string pattern = goReplace(syntaxLine, " (" + raw, "");
  pattern = goReplace(std::move(pattern), "(" + raw, "");
  pattern = goReplace(std::move(pattern), raw + " )", "");
  return goReplace(std::move(pattern), raw + ")", "");
}

SharedForms syntaxForms(const std::string& app, const std::string& path, bool* lasting) {
  struct Cached {
    uint64_t generation = 0;
    SharedForms forms;
  };
  // A few packs per application.
  static auto* cache = new DiskCache<Cached>(8 * kCachedApplications);
  const Cached& cached = cachedEntry(*cache, app, path, false, [&](Cached& entry) {
    std::ifstream file;
    if (!openForReading(path, file)) return;
    auto forms = std::make_shared<std::vector<SyntaxForm>>();
    std::string read, syntaxLine;
    while (std::getline(file, read)) {
      if (!toSyntaxLine(read, syntaxLine)) continue;
      const std::string pattern = patternText(syntaxLine);
      std::string parameter = parameterText(syntaxLine);
      std::string acceptance = "(TRUEZEL)" + parameter;
      std::string shown = goReplace(pattern, "(ZE)", "");
      std::string word(firstWordOf(shown));
      forms->push_back({std::move(parameter), std::move(shown), pattern.find("(ZE)") != std::string::npos,
                        std::move(acceptance), std::move(word)});
    }
    entry.forms = std::move(forms);
    // The classic line buffer, as a file read to its end leaves it.
    lineSyntaxesExist.clear();
  });
  if (lasting != nullptr) *lasting = cached.generation != 0;
  return cached.forms;
}

