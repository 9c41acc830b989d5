// Plug-in interface for zel modules.
//
// This is the only header a module author needs. A module is a shared object
// that exports two C functions, "create" and "destroy". The engine loads it
// with dlopen, calls create() to get a fresh object, calls the object's one
// operation once, then hands the object back to destroy(). The shared object
// stays loaded for the life of the process, so static data in a module
// persists from call to call while every call works on a new object.
//
// Two kinds of module exist:
//   - a pack module (ModuleObject) carries out an accepted statement;
//   - a syntax module (LibModuleObject), installed in
//     node_modules/korrin_linux/, decides whether a statement has a form.
//
// ABI: texts cross the boundary as std::string by value, and the engine
// calls the first slot of the object's virtual table. A module must therefore
// be built with the same C++ standard library and string layout as the
// add-on (g++/libstdc++ with the default _GLIBCXX_USE_CXX11_ABI=1), and the
// operation must stay the first virtual function of the class.
//
// What a module meets depends on how the host called the engine:
//
//                    classic exports              promise API (run, exec),
//                    (Executer, Commandes)        and a pool's children
//   thread           the JavaScript thread that   the engine's own thread,
//                    called the export            never a JavaScript thread
//   stop answer      ends the whole process,      ends the run only: it
//                    status 0, host included      resolves with stopped: true
//   exception from   a JavaScript Error thrown    the promise rejects with a
//   execute/check    by the export                ZelError (code
//                                                 ZEL_MODULE_THREW, the
//                                                 module's path, the line)
//
// Either way the engine makes one call at a time, and an object whose call
// threw is not destroyed.
//
// Files the engine reads (syntax files, modules, the catalogue) are cached
// and checked for changes at every call's start, then at most every 100 us
// of run time. A file a module writes is seen by the next statement when
// writing it took 5 us or more (writing a file does), or when the module
// called back into the engine; a change made before a call is always seen.
//
// Writing a module:
//
//   #include "zel_module.h"
//   class Hello : public ModuleObject {
//    public:
//     std::string execute(std::string input) override { return "hello"; }
//   };
//   ZEL_EXPORT_MODULE(Hello)
//
// The engine looks "create" and "destroy" up by their C names: without the
// export macros below, declare them extern "C" with default visibility.
// "zel check" loads each module as the engine would and says what is wrong.
#ifndef ZEL_MODULES_ZEL_MODULE_H_
#define ZEL_MODULES_ZEL_MODULE_H_

#include <string>

// A pack module object: does the work of one accepted statement.
class ModuleObject {
 public:
  // Runs one statement. input is the program path ("" for a program given
  // as text; the syntax path for a direct command), ";" and the statement. Returns the result text, which
  // becomes the run's result. Must stay the first virtual function.
  virtual std::string execute(std::string input) = 0;
  virtual ~ModuleObject() {}
};

// A syntax module object: decides whether a statement has a form.
class LibModuleObject {
 public:
  // Offered one syntax line's pattern text and a statement (without ";").
  // Answers with the statement itself to accept it; with a text holding
  // "(NM)" (not this form; the rest is shown to the user), "(LEX)" (lexical
  // error; the rest describes it) or "(NF)" (statement not found); anything
  // else means no opinion. Must stay the first virtual function.
  virtual std::string check(std::string syntaxLine, std::string statement) = 0;
  virtual ~LibModuleObject() {}
};

// Optional, for a syntax module: what it answers, without being asked, for a
// form that cannot be the statement's. A module exports
//   std::string zelOtherFormAnswer(const std::string& statement)
// (ZEL_EXPORT_OTHER_FORM_ANSWER below) to declare that, for a form whose
// pattern's first word differs from the statement's first word (or that has
// no word), check() answers exactly what this function returns for the
// statement at that moment: "" (no opinion), a fixed refusal, or a text that
// depends on the statement and on the module's earlier check() calls, never
// on the pattern. A word is what lies between blanks (space, \t, \n, \v, \f,
// \r). The engine then offers the module only the other forms, in the same
// order (an empty statement, which "" accepts, is offered every form), and
// takes this answer for the skipped ones, so that every result,
// refusal and message stays what it would be if it asked: it calls the
// function before the next check() call of any syntax module when forms were
// skipped since, and when the statement has no form. Calling it must change
// nothing that check() answers later. A module that does not export it is
// offered every form.
typedef std::string other_form_answer_t(const std::string& statement);

// The stop answer of the catalogues shipped with zel (message 21). A pack
// module that returns exactly this text ends the program. Under the classic
// exports it also ends the process, host included, with exit status 0;
// under the promise API only the run ends, resolving with stopped: true. An
// application whose catalogue changes message 21 must have its modules
// return the new text instead.
#define ZEL_STOP_ANSWER "<<zel:stop-program:7c1e>>"

// The statement part of a pack module's input ("<path>;<statement>"): what
// follows the first ";", without the statement's own final ";" and without
// spaces at either end.
inline std::string zelStatementOf(const std::string& input) {
  const std::string::size_type semicolon = input.find(';');
  std::string statement =
      semicolon == std::string::npos ? input : input.substr(semicolon + 1);
  while (!statement.empty() && (statement.back() == ';' || statement.back() == ' ')) {
    statement.pop_back();
  }
  const std::string::size_type start = statement.find_first_not_of(' ');
  return start == std::string::npos ? std::string() : statement.substr(start);
}

// Entry types the engine looks up as "create" and "destroy".
typedef ModuleObject* create_t();
typedef void destroy_t(ModuleObject*);
typedef LibModuleObject* create_lib_t();
typedef void destroy_lib_t(LibModuleObject*);

#define ZEL_MODULE_API extern "C" __attribute__((visibility("default")))

// State for one call. zelCallState<T>() is the T of the promise API or pool
// call in progress: made (default-constructed) at its first use in the
// call and freed when the call ends, so that two callers' programs never
// see each other's. Under the classic exports there is one T for the whole
// process, kept until it ends, as a static would be. Module-wide statics
// keep their meaning. Call it only from execute() or check(), on the thread
// the engine calls the module on. The engine hands its side to the module
// when it loads it (through zel_call_state_api, which ZEL_EXPORT_MODULE
// defines; ZEL_EXPORT_CALL_STATE defines it for a syntax module).
struct ZelCallStateApi {
  // The state under `key` of the call in progress, made by make() the first
  // time; drop() frees it.
  void* (*get)(const void* key, void* (*make)(), void (*drop)(void*));
};

inline const ZelCallStateApi*& zelCallStateApi() {
  static const ZelCallStateApi* api = nullptr;
  return api;
}

template <class T>
T& zelCallState() {
  static const char key = 0;
  const ZelCallStateApi* api = zelCallStateApi();
  if (api == nullptr) {  // loaded by something other than the engine
    static T processWide;
    return processWide;
  }
  return *static_cast<T*>(api->get(&key, []() -> void* { return new T(); },
                                   [](void* state) { delete static_cast<T*>(state); }));
}

#define ZEL_EXPORT_CALL_STATE \
  ZEL_MODULE_API void zel_call_state_api(const ZelCallStateApi* api) { zelCallStateApi() = api; }

// Exports create/destroy for a pack module class with a default constructor.
#define ZEL_EXPORT_MODULE(Class)                                   \
  ZEL_MODULE_API ModuleObject* create() { return new Class(); }    \
  ZEL_MODULE_API void destroy(ModuleObject* object) { delete object; } \
  ZEL_EXPORT_CALL_STATE

// Exports create/destroy for a syntax module class with a default constructor.
#define ZEL_EXPORT_SYNTAX_MODULE(Class)                             \
  ZEL_MODULE_API LibModuleObject* create() { return new Class(); }  \
  ZEL_MODULE_API void destroy(LibModuleObject* object) { delete object; }

// Exports `function` (a std::string(const std::string&)) as a syntax module's
// zelOtherFormAnswer.
#define ZEL_EXPORT_OTHER_FORM_ANSWER(function)                                 \
  ZEL_MODULE_API std::string zelOtherFormAnswer(const std::string& statement) { \
    return function(statement);                                                \
  }

#endif  // ZEL_MODULES_ZEL_MODULE_H_
