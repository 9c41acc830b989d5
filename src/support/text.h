// Text utilities shared by the whole engine.
//
// Texts are byte strings; positions and lengths count bytes. Functions that
// take a text by value work on their own copy. None keeps state, so they may
// be called from any thread.
#ifndef ZEL_SUPPORT_TEXT_H_
#define ZEL_SUPPORT_TEXT_H_

#include <fstream>
#include <initializer_list>
#include <string>

// Replaces every non-overlapping occurrence of pattern, found left to right,
// by replacement; the scan resumes after each replaced occurrence, so the
// replacement is never searched again. Linear in the text's length. An empty
// pattern returns the text unchanged.
std::string goReplace(std::string text, std::string pattern,
                      std::string replacement);

// Replaces the first occurrence of pattern only. An empty pattern matches at
// the start, so the replacement is put in front of the text.
std::string goReplaceFirstString(std::string text, std::string pattern,
                                 std::string replacement);

// The part of text after its last "/" (the whole text when there is none).
std::string MyLastIndexOfSlash(const std::string& text);

// The part of text after its last "(" (the whole text when there is none).
std::string MyLastIndexOfParam(const std::string& text);

// The part of text after the first character that belongs to the set (the
// set ends at its first zero byte). The whole text when none occurs or the
// set is empty.
std::string MyFirstIndexOf(const std::string& text, std::string set);

// Number of non-overlapping occurrences of word in text, found left to
// right, in decimal. An empty word counts "0".
std::string goGetSizeWORD(std::string word, std::string text);

// The same count as an integer.
int goGetSizeWORDINT(std::string word, std::string text);

// True when stat() succeeds on path (symbolic links followed).
bool IsPathExist(const std::string& path);

// Opens path for reading in binary mode; false when it cannot be opened or
// is a directory (which opens but cannot be read).
bool openForReading(const std::string& path, std::ifstream& file);

// Removes every "\n\t", then every "\n", then every "\r": the clean-up the
// readers apply to a line before using it.
std::string withoutLineBreaks(std::string text);

// True when text holds at least one of the markers anywhere.
bool containsAny(const std::string& text,
                 std::initializer_list<const char*> markers);

#endif  // ZEL_SUPPORT_TEXT_H_
