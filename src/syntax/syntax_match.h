// Matching one statement against one syntax file.
//
// A syntax file lists a pack's statement forms, one per line: a pattern,
// optionally followed by a parameter in parentheses (the module that runs
// the form), as in "print (echo)". Whether a statement has a form is asked of
// every syntax module in <app>/node_modules/korrin_linux/, line after line,
// until one answers with the statement itself.
#ifndef ZEL_SYNTAX_SYNTAX_MATCH_H_
#define ZEL_SYNTAX_SYNTAX_MATCH_H_

#include <string>

#include "base/state.h"
#include "cache/dir_listing.h"  // entryNamePieces
#include "syntax/syntax_forms.h"
#include "call/call.h"

// What matching a statement against syntax files decided.
struct SyntaxVerdict {
  bool accepted = false;
  bool passedOver = false;   // a comment, or a text too short to hold a form: nothing was asked
  bool moduleAsked = false;  // some syntax module was asked (lastAnswer is its answer)
  std::string lastAnswer;    // the latest syntax module answer
  // Without acceptance, the message that fits: the module's own text for
  // "(NM)", message 2 for "(LEX)", 3 for "(NF)", the module directory in
  // parentheses + message 19 when no module accepted ("(MDNF)" + message
  // 19 when an earlier answer carried a refusal and the last one none), 4
  // when the module directory is missing, 18 when no line could be offered,
  // 14 when statement and a form tried both carry "(ZE)", and 1 when the
  // file cannot be opened. (On acceptance, see takeResult.)
  Result result;

  // The accepting form's parameter text: the module's name.
  const std::string& module() const { return form_->parameter; }
  // The accepting form, and the forms of its syntax file (read from one
  // path, so that while they are held the form's address names that file
  // and form alone).
  const SyntaxForm* form() const { return form_; }
  const SharedForms& forms() const { return forms_; }
  // "(TRUEZEL)" + the module's name, the answer of an acceptance.
  const std::string& acceptance() const { return form_->acceptance; }
  // The match's result: the acceptance's answer when a form accepted (a
  // copy), `result` otherwise (moved out).
  Result takeResult() { return accepted ? answer(form_->acceptance) : std::move(result); }
  // Records the acceptance by `form`, one of `forms`, which the verdict
  // holds on to: the form's texts are read from it, not copied.
  void accept(const SyntaxForm& form, SharedForms forms) {
    accepted = true;
    form_ = &form;
    forms_ = std::move(forms);
  }

  // The syntax file whose form accepted the statement.
  const std::string& syntaxFile() const { return path_ != nullptr ? *path_ : ownPath_; }
  // Names it: a text that outlives this match (the caller's syntax path)
  // is only pointed to; any other is copied.
  void setSyntaxFile(const std::string& lasting) { path_ = &lasting; }
  void keepSyntaxFile(std::string path) {
    ownPath_ = std::move(path);
    path_ = nullptr;
  }

 private:
  const SyntaxForm* form_ = nullptr;
  SharedForms forms_;
  const std::string* path_ = nullptr;
  std::string ownPath_;
};

// Matches `statement` against the syntax file at `syntaxPath` for the
// call's application: every syntax line in file order, each offered to
// every syntax module in directory order, until one answers with the
// statement itself. `syntaxPath` must outlive the result (its syntaxFile()
// points to it). A syntax path holding a NUL byte is never opened
// (message 1, the NUL shown as "\0"); only a regular file is read.
SyntaxVerdict matchSyntaxFile(const Call& call, const std::string& syntaxPath,
                              const std::string& statement);

// Keeps the match's last syntax module answer in lineSyntaxesExistLib, as
// the classic state has it, when a module was asked.
inline void keepLastAnswer(SyntaxVerdict& verdict) {
  if (verdict.moduleAsked) lineSyntaxesExistLib = std::move(verdict.lastAnswer);
}

#endif  // ZEL_SYNTAX_SYNTAX_MATCH_H_
