#include <string>
#include <vector>

#include "entries/command_loop.h"
#include "host/crash_report.h"
#include "index/binding.h"

namespace {

// reportCrashes(command, program, home): a module that crashes the process on the
// engine thread is noted on standard error first, naming the command and
// program (host/crash_report.h). For the command line.
Napi::Value ReportCrashes(const Napi::CallbackInfo& info) {
  reportModuleCrashes(argumentText(info, 0), argumentText(info, 1),
                      info.Length() > 2 ? argumentText(info, 2) : "");
  return info.Env().Undefined();
}

// cutStatements(pending, text): cuts `text` into statements as the standard
// input loop does, after the unfinished statement `pending`; returns
// [the unfinished statement after it, the statements it completed...]. For
// the command line's "zel repl".
Napi::Value CutStatements(const Napi::CallbackInfo& info) {
  const Napi::Env env = info.Env();
  StatementCutter cutter(argumentText(info, 0));
  std::vector<std::string> statements;
  cutter.addText(argumentText(info, 1), statements);
  Napi::Array out = Napi::Array::New(env, statements.size() + 1);
  out.Set(0u, cutter.pending());
  for (size_t i = 0; i < statements.size(); ++i) {
    out.Set(static_cast<uint32_t>(i + 1), statements[i]);
  }
  return out;
}

// declaredSyntax(app, statement): null for a statement that declares no
// syntax file; otherwise { path } of the file it names below the
// application's node_modules, or { error } (message 1) when it would leave.
// For the command line's "zel repl", whose input is not trusted.
Napi::Value DeclaredSyntax(const Napi::CallbackInfo& info) {
  std::string text;
  const Declaration found = replDeclaration(argumentText(info, 0), argumentText(info, 1), text);
  if (found == Declaration::kNone) return info.Env().Null();
  Napi::Object out = Napi::Object::New(info.Env());
  out.Set(found == Declaration::kConfined ? "path" : "error", text);
  return out;
}

}  // namespace

void addCommandLineHelpers(Napi::Env env, Napi::Object exports) {
  // Not enumerable, as the promise binding's.
  exports.DefineProperties({
      Napi::PropertyDescriptor::Function(env, exports, "reportCrashes", ReportCrashes),
      Napi::PropertyDescriptor::Function(env, exports, "cutStatements", CutStatements),
      Napi::PropertyDescriptor::Function(env, exports, "declaredSyntax", DeclaredSyntax)});
}
