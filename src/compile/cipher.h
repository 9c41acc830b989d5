// Compiled-line encoding: Base64 plus a character-for-word substitution.
//
// A source line is written as goEnCryptZEL(goBase64(line)) + "-;" and read
// back as base64_decode(goDeCryptZEL(compiledLine)). Each code word is a
// dash, five to ten binary digits and a dash, so an enciphered line carries
// one of the cipher markers "-000", "-111", "-11" or "--;".
#ifndef ZEL_COMPILE_CIPHER_H_
#define ZEL_COMPILE_CIPHER_H_

#include <cstddef>
#include <string>

// One entry of the cipher table: a character and its code word.
struct CipherEntry {
  char character;
  const char* word;
};

// The cipher table: 79 entries, "0" first and "1" second. Compiled programs
// can only be read with the table that wrote them, so it never changes.
extern const CipherEntry kCipherTable[];
extern const std::size_t kCipherTableSize;

// Enciphers a Base64 text of 20 characters or more, replacing every table
// character by its code word (others, such as "+", stay). A shorter text is
// returned unchanged; unless it is "" or "DQ==" (an empty line or a lone
// carriage return) ErrorEnCrypt is set, as such a line cannot be protected.
std::string goEnCryptZEL(std::string text);

// Deciphers a whole compiled line, terminator included: "--;" and then "-;"
// become "-", and every code word becomes its character. Returns the Base64
// text, possibly followed by one "-". Never fails. Takes the line by
// reference: compiled lines are about twelve times as long as their source.
std::string decipherLine(const std::string& line);

// decipherLine, under the name and with the copied argument the engine's
// native callers know.
std::string goDeCryptZEL(std::string text);

// Appends the enciphered form of a Base64 text to `out`, as goEnCryptZEL
// gives it. Returns false for a text that cannot be protected (where
// goEnCryptZEL sets ErrorEnCrypt); writes no global.
bool appendEnciphered(const std::string& text, std::string& out);

// Appends the substitution of every character of text by its code word,
// whatever the text's length: the enciphering of a Base64 text of 20
// characters or more, or of a piece of one.
void appendSubstituted(const std::string& text, std::string& out);

// Appends the compiled line of a source line, goEnCryptZEL(goBase64(source))
// + "-;", to `out`, without the intermediate texts. Returns false for a line
// that cannot be protected (1 to 12 bytes, other than a lone "\r").
// `base64` is the caller's room for the intermediate text, kept from one
// line to the next so that its memory is reused.
bool appendCompiledLine(const std::string& source, std::string& out, std::string& base64);

// Base64 of all the bytes of text (embedded zero bytes included).
std::string goBase64(std::string text);

// Base64 (RFC 4648, standard alphabet, "=" padding, no line breaks) of
// `length` bytes at `bytes`.
std::string base64_encode(const unsigned char* bytes, unsigned int length);

// The same, appended to `out`.
void base64_encode(const unsigned char* bytes, unsigned int length, std::string& out);

// Decodes Base64 from the start of text up to the first "=" or the first
// character outside the alphabet; the rest is ignored. A last partial group
// of 3 characters gives 2 bytes, of 2 gives 1, of 1 gives nothing. Never
// fails.
std::string base64_decode(const std::string& text);

// True when text holds one of the cipher markers "-000", "-111", "-11" or
// "--;" anywhere: readers then take it for an enciphered line.
bool hasCipherMarker(const std::string& text);

// The text before the first ";" of text (all of it when there is none).
std::string beforeFirstSemicolon(const std::string& text);

// The plain text of an enciphered line, base64_decode(goDeCryptZEL(line)),
// cut before its first ";" (the ";" and the rest are dropped).
std::string decipherStatement(const std::string& line);

#endif  // ZEL_COMPILE_CIPHER_H_
