#include "syntax/form_scan.h"

#include <cstdint>

#include "cache/disk_cache.h"
#include "lang/lang.h"
#include "modules/running_module.h"

namespace {

// What the match reads as the answer of a syntax module that cannot be
// opened: message 4 naming it. (One the loader refuses answers with the
// loader's text.)
std::string unreadableText(const FormScan& scan, const std::string& path) {
  return scan.call.message(kFileNotFound, withVisibleNul(path)).text;
}

// True when `module` need not be offered the form being tried: it declares
// its answer for other forms.
bool skipsForm(const SyntaxModule& module, FormScan& scan) {
  return module.skipsOtherForms && otherForm(scan);
}

// Asks `module` about the form being tried, into the
// scan's last answer. The directory entry lives for one generation, as a
// cached module's does; one that could not be cached is looked up for
// every call.
void askOne(FormScan& scan, ModuleDirectory& directory, SyntaxModule& module) {
  if (module.entries.create != nullptr) {
    askThroughEntries(module.entries, module.path, scan.form->pattern, scan.statement,
                      scan.lastAnswer);
    return;
  }
  const LoadedModule* loaded = module.loaded;
  if (loaded == nullptr) {
    loaded = &loadedModule(scan.call.app(), module.path);
    dropEvictedModules(directory);  // the lookup may have evicted others
    if (isCached(*loaded)) {
      module.loaded = loaded;
      module.skipsOtherForms = declaresOtherFormAnswer(*loaded);
      module.entries = syntaxEntries(*loaded);
      updateAllSkip(directory);
    }
  }
  if (askSyntaxModule(*loaded, module.path, scan.form->pattern, scan.statementText(),
                      scan.lastAnswer) == ModuleAnswer::kUnreadable) {
    scan.lastAnswer = unreadableText(scan, module.path);
  }
}


}  // namespace

void askNamedFrom(FormScan& scan, size_t first) {
  ModuleDirectory& directory = *scan.directory;
  // Entries change during the match, the lists never do: their start and
  // length are read once, not after every module call.
  SyntaxModule* const modules = directory.modules.data();
  const size_t* const named = directory.named.data();
  const size_t count = directory.named.size();
  for (size_t position = first; position < count; ++position) {
    const size_t i = named[position];
    SyntaxModule& module = modules[i];
    if (skipsForm(module, scan)) {
      scan.owed[i] = module.loaded;
      scan.owing = true;
      scan.lastSkipped = i + 1;
      continue;
    }
    if (scan.owing) takeOwedAnswers(scan);
    scan.lastSkipped = 0;
    askOne(scan, directory, module);
    // A module that called back into the engine may have had entries the
    // directory points to evicted (mostly nothing was: one comparison).
    if (directory.evictionsSeen != cache_use::evictions()) dropEvictedModules(directory);
    if (readAnswer(scan)) {
      scan.accepted = true;
      return;
    }
  }
}

void takeOwedAnswers(FormScan& scan) {
  scan.owing = false;
  if (scan.allOwed) {
    // Set only while every module's entry is held (allSkip).
    for (size_t i = 0; i < scan.owed.size(); ++i) {
      scan.owed[i] = scan.directory->modules[i].loaded;
    }
    scan.allOwed = false;
  }
  for (size_t i = 0; i < scan.owed.size(); ++i) {
    const LoadedModule* loaded = scan.owed[i];
    if (loaded == nullptr) continue;
    scan.owed[i] = nullptr;
    const std::string& path = scan.directory->modules[i].path;
    std::string answer = otherFormAnswer(*loaded, path, scan.statementText());
    if (carriesRefusalMarker(answer)) scan.markerSeen = true;
    if (scan.lastSkipped == i + 1) scan.lastAnswer = std::move(answer);
  }
}

void askSyntaxModules(FormScan& scan) {
  if (scan.directory->missing) {
    scan.directoryMissing = true;
    return;
  }
  noteDirectoryFacts(scan);
  askNamedFrom(scan, 0);
}
