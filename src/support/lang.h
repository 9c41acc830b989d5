// Message catalogue.
//
// Every text the engine reports is a numbered line of the catalogue
// myAbsolutePathDirApp + "/node_modules/zel_linux/lang.conf", so wording and
// language change without rebuilding.
#ifndef ZEL_SUPPORT_LANG_H_
#define ZEL_SUPPORT_LANG_H_

#include <string>

// Path of the catalogue below the current application directory.
std::string catalogPath();

// What goResponseLANG answers when the catalogue cannot be opened.
std::string catalogFailureText();

// Looks message `number` up (decimal text, matched as the key ":number:").
// The first line in file order that holds the key anywhere wins (lines that
// are exactly "" or "-;" are never examined); its line breaks and "\r" are
// dropped, ":EE:" becomes "\n", every key is removed, and ":A1:", ":A2:",
// ":B1:" become terminal colour codes. ":E1:" is left for the caller.
// Returns "" when no line holds the key, and a fixed French failure text
// followed by the catalogue path when the catalogue cannot be opened (or is
// not a regular file). The
// file is read afresh on every call.
std::string goResponseLANG(std::string number);

#endif  // ZEL_SUPPORT_LANG_H_
