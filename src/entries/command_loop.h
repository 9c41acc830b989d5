// The standard input command loop's rules, shared with the command line's
// "zel repl": how words make statements, and which syntax file a
// declaration names.
#ifndef ZEL_ENTRIES_COMMAND_LOOP_H_
#define ZEL_ENTRIES_COMMAND_LOOP_H_

#include <string>
#include <vector>

#include "call/call.h"

// Cuts words (runs of characters between white space) into statements: a
// word holding ";" completes one, whose words are joined by one space, with
// every " ;" made ";" ("print", "hello", ";" give "print hello;").
class StatementCutter {
 public:
  explicit StatementCutter(std::string pending = "") : buffer_(std::move(pending)) {}
  // Adds one word. Returns true when it completes a statement, which is
  // then in `statement`.
  bool add(const std::string& word, std::string& statement);
  // Adds every word of `text` (words are separated by white space, as the
  // standard input loop reads them) and appends the statements they
  // complete to `statements`.
  void addText(const std::string& text, std::vector<std::string>& statements);
  // The words of the unfinished statement, each followed by one space.
  const std::string& pending() const { return buffer_; }

 private:
  std::string buffer_;
};

// True for a statement that names a syntax file instead of being run: it
// holds ":s:" or "(CURL)".
bool isDeclaration(const std::string& statement);

// The syntax file a declaration names, as the standard input loop takes it:
// the declaration without "(CZEL)", ":s:", "(CURL)" and ";", taken as it is
// when it holds "/" or "\", otherwise below <app>/node_modules/.
std::string declaredSyntaxPath(const std::string& app, std::string declaration);

// What the command line's "zel repl" makes of a statement, whose text is
// not trusted: no declaration (kNone); a declaration naming a syntax file
// below <app>/node_modules/, confined as a program's header is (folded on
// its text), whose path is then in `text` (kConfined); or one whose name
// would leave, with message 1 naming it in `text` (kRefused). Takes the
// engine lock.
enum class Declaration { kNone, kConfined, kRefused };
Declaration replDeclaration(const std::string& app, const std::string& statement,
                            std::string& text);

#endif  // ZEL_ENTRIES_COMMAND_LOOP_H_
