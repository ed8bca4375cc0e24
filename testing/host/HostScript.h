// A small script language for driving the server stand-in by hand or from a
// file, one statement per line:
//
//   WAC_SetVolume(12345, 200)        call a function for instance 12345; shows the
//                                    call as the handler got it (the registered name,
//                                    the values converted to the parameters' types),
//                                    then "-> " and the result
//   WAC_AddFile(1, "C:\Music\a.mp3") texts in double quotes (\" for a quote);
//                                    unquoted words are taken as texts too
//   define Vol integer 0             define a variable: boolean, integer or text
//   set Vol 12                       set a variable (its defined type decides)
//   print Vol                        show a variable
//   wait 500                         let the server run for 500 ms
//   waitfor Vol 255 10000            let it run until variable Vol holds 255 (at most 10 s)
//   setting 1 WinampLocation "C:\x"  store a setting of instance 1 (section "Settings"); the key is
//                                    one of the instance's settings table, in any case, and is
//                                    stored in the table's spelling; a running instance takes the
//                                    eight of IKDOWinampControl's record at once, through
//                                    SetSettings as the server's page does, and the other four
//                                    when it is created again; a variable that does not exist is
//                                    named, here and at create
//   create 1 / destroy 1             create or destroy instance 1 of the loaded module
//   show 1 / hide 1                  show or hide instance 1's configuration page
//   save 1                           ask instance 1 to save its settings
//   screenshot 1 "page.png"          save instance 1's configuration page as a PNG
//   help                             list the statements, and the functions the
//                                    instances registered, with their parameters
//   quit                             end here (exit does the same)
//   # a comment                      blank lines and comments are skipped
//
// Names of functions and statements ignore letter case; arguments follow the
// parameter types of the function's registration, so every registered function
// is known with its signature. A call of a function the instance has not
// registered, or with too few or too many arguments, is an error that runs
// nothing; so is one for an instance that does not exist, and says so.
// Integers are 32-bit: a number beyond that range is refused, never wrapped
// round. $NAME in an argument stands for a value the runner was given (for
// example $DIR, the host's folder).
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
  enum class Kind { Empty, Call, Define, Set, Print, Wait, WaitFor, Setting, Create, Destroy, Show, Hide, Save, Screenshot, Help,
                    Quit };
  Kind kind = Kind::Empty;
  std::string name;               // function or variable
  std::vector<std::string> args;  // raw arguments, quotes removed
  std::vector<bool> quoted;       // per argument: it was in quotes
};

// Parses one line; on failure returns nullopt and says why in `error`.
std::optional<Statement> ParseStatement(std::string_view line, std::string& error);

// Formats a value the way `print` shows it.
std::string Show(const Value& v);
// The text with each control character written as \xHH, for a terminal.
std::string Escaped(std::string_view text);

class ScriptRunner {
 public:
  // `wait` lets the server run (the message loop, or a simulated clock).
  ScriptRunner(Server& server, std::function<void(uint32_t ms)> wait) : server_(server), wait_(std::move(wait)) {}

  // Runs one line; returns what it prints (may be empty). Throws nothing:
  // errors come back in `error` and the result is false.
  bool Run(std::string_view line, std::string& output, std::string& error);

  // The module that `create` makes instances of.
  TGUID Module{};
  // Values for $NAME in arguments.
  std::vector<std::pair<std::string, std::string>> Macros;
  // Saves an instance's configuration page as a PNG; false when it cannot.
  std::function<bool(uint16_t id, const std::string& file)> Screenshot;
  // A `quit` has run: the lines after it are not for this runner.
  bool Ended() const { return ended_; }

 private:
  bool RunLine(std::string_view line, std::string& output, std::string& error);
  bool RunInstanceStatement(const Statement& st, std::string& output, std::string& error);
  std::string Help() const;

  Server& server_;
  std::function<void(uint32_t)> wait_;
  bool ended_ = false;
};

}  // namespace host
