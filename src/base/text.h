// Text utilities shared by the whole engine.
//
// Texts are byte strings; positions and lengths count bytes. Functions that
// take a text by value work on their own copy. None keeps state, so they may
// be called from any thread.
#ifndef ZEL_BASE_TEXT_H_
#define ZEL_BASE_TEXT_H_

#include <fstream>
#include <initializer_list>
#include <string>
#include <string_view>

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

// True when stat() succeeds on path (symbolic links followed); false for a
// path holding a NUL byte.
bool IsPathExist(const std::string& path);

// Opens path for reading in binary mode. Only a regular file (symbolic links
// followed) is opened: false for a path holding a NUL byte, a path that
// cannot be opened, and a directory, device, FIFO or socket, which would
// block, never end or not read as a file.
bool openForReading(const std::string& path, std::ifstream& file);

// True when text holds a NUL byte. The C library would read such a path
// only up to the NUL, so it is refused before it reaches any file call.
bool holdsNul(const std::string& text);

// text with every NUL byte written as the two characters "\0", for messages
// that name a refused path.
std::string withVisibleNul(std::string text);

// True when the relative path `relative`, resolved lexically (no file
// system access, symbolic links not followed), stays at or below the
// directory it is relative to: it is not absolute, holds no NUL byte, and
// no ".." component climbs above its start ("a/../b" stays, "a/../../b"
// does not).
bool staysBelow(const std::string& relative);

// `path` folded on its text alone (no file system access): empty and "."
// components dropped, each "name/.." pair removed, and the ".." that climb
// above the start kept in front ("a/./b//c" gives "a/b/c", "a/../b" gives
// "b", "a/../../b" gives "../b", "a/.." gives ""). A leading "/" is kept,
// and a ".." right after it dropped. So the kernel never resolves a ".."
// from the target of a symbolic link the path passes through.
std::string foldedPath(const std::string& path);

// True for a module name that names a file inside its pack's directory:
// not empty, not absolute, no ".." component and no NUL byte.
bool isPackModuleName(const std::string& name);

// Removes every "\n\t", then every "\n", then every "\r": the clean-up the
// readers apply to a line before using it.
std::string withoutLineBreaks(std::string text);

// text without spaces at either end, cut to at most `limit` bytes at a
// UTF-8 character boundary, "..." marking a cut: a user's text quoted in a
// message.
std::string shortened(const std::string& text, size_t limit = 80);

// The parts one after the other, made in one allocation (a `+` chain makes
// one per step as the text outgrows its room).
std::string joined(std::string_view a, std::string_view b, std::string_view c = {});

// True when text holds at least one of the markers anywhere.
bool containsAny(const std::string& text,
                 std::initializer_list<const char*> markers);

#endif  // ZEL_BASE_TEXT_H_
