// A small script language for driving the server stand-in by hand or from a
// file, one statement per line:
//
//   WAC_SetVolume(12345, 200)        call a function for instance 12345
//   WAC_AddFile(1, "C:\Music\a.mp3") texts in double quotes (\" for a quote);
//                                    unquoted words are taken as texts too
//   define Vol integer 0             define a variable: boolean, integer or text
//   set Vol 12                       set a variable (its defined type decides)
//   print Vol                        show a variable
//   wait 500                         let the server run for 500 ms
//   # a comment                      blank lines and comments are skipped
//
// Names of functions and statements ignore letter case; arguments follow the
// parameter types of the function's registration.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "KDOHost.h"

namespace host {

struct Statement {
  enum class Kind { Empty, Call, Define, Set, Print, Wait };
  Kind kind = Kind::Empty;
  std::string name;               // function or variable
  std::vector<std::string> args;  // raw arguments, quotes removed
  std::vector<bool> quoted;       // per argument: it was in quotes
};

// Parses one line; on failure returns nullopt and says why in `error`.
std::optional<Statement> ParseStatement(std::string_view line, std::string& error);

// Formats a value the way `print` shows it.
std::string Show(const Value& v);

class ScriptRunner {
 public:
  // `wait` lets the server run (the message loop, or a simulated clock).
  ScriptRunner(Server& server, std::function<void(uint32_t ms)> wait) : server_(server), wait_(std::move(wait)) {}

  // Runs one line; returns what it prints (may be empty). Throws nothing:
  // errors come back in `error` and the result is false.
  bool Run(std::string_view line, std::string& output, std::string& error);

 private:
  Server& server_;
  std::function<void(uint32_t)> wait_;
};

}  // namespace host
