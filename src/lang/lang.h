// Message catalogue.
//
// Every text the engine reports is a numbered line of a catalogue file,
// <app>/node_modules/zel_linux/lang.conf, so wording and language change
// without rebuilding. The catalogue is kept in the disk caches
// (cache/disk_cache.h): an edit takes effect at the next statement.
#ifndef ZEL_LANG_LANG_H_
#define ZEL_LANG_LANG_H_

#include <string>

// The catalogue path of the application in `app`.
std::string catalogPathOf(const std::string& app);

// What a lookup answers when the catalogue at `catalog` cannot be opened: a
// fixed French text followed by the catalogue path.
std::string catalogFailureText(const std::string& catalog);

// Looks message `number` up (decimal text, matched as the key ":number:")
// in the catalogue file `catalog`, cached for the application `app`. The
// first line in file order that holds the key anywhere wins (lines that are
// exactly "" or "-;" are never examined); its line breaks and "\r" are
// dropped, ":EE:" becomes "\n", every key is removed, and ":A1:", ":A2:",
// ":B1:" become terminal colour codes. ":E1:" is left for the caller.
// `text` is "" when no line holds the key. Returns false, with the failure
// text in `text`, when the catalogue cannot be opened (or is not a regular
// file).
bool lookupMessage(const std::string& app, const std::string& catalog,
                   const std::string& number, std::string& text);

// The same lookup without a copy: the text as the cache holds it, valid
// until the next lookup in the caches; null when the catalogue cannot be
// opened. `lasting`, when given, tells whether the text stays valid for the
// current disk generation (the catalogue could be cached).
const std::string* cachedMessage(const std::string& app, const std::string& catalog,
                                 const std::string& number, bool* lasting = nullptr);

#endif  // ZEL_LANG_LANG_H_
