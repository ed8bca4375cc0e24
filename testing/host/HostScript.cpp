#include "HostScript.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>

#include "control/Device.WinampControl_Types.h"

namespace host {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// A whole number of 32 bits. One beyond them is refused (and `outOfRange` set), never wrapped round
// into a number the user did not write.
std::optional<int32_t> ParseInt(std::string_view s, bool* outOfRange = nullptr) {
  s = Trim(s);
  int32_t v = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (end != s.data() + s.size()) return std::nullopt;
  if (ec == std::errc::result_out_of_range && outOfRange) *outOfRange = true;
  if (ec != std::errc()) return std::nullopt;
  return v;
}

// Why a number was refused (built by appending: GCC 12 misreads "x" + string here).
std::string NumberError(std::string_view raw) {
  bool outOfRange = false;
  ParseInt(raw, &outOfRange);
  std::string error(1, '\'');
  error += raw;
  error += outOfRange ? "' is out of range (" + std::to_string(INT32_MIN) + " to " + std::to_string(INT32_MAX) + ")"
                      : std::string("' is not an integer");
  return error;
}

std::optional<bool> ParseBool(std::string_view s) {
  const std::string l = kdo::text::LowerAZ(Trim(s));
  if (l == "true" || l == "1" || l == "on") return true;
  if (l == "false" || l == "0" || l == "off") return false;
  return std::nullopt;
}

// Splits "a, "b, c", d" into arguments; quotes group, \" and \\ escape inside them.
bool SplitArgs(std::string_view s, Statement& st, std::string& error) {
  s = Trim(s);
  if (s.empty()) return true;
  std::string cur;
  bool quoted = false, inQuotes = false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (inQuotes) {
      if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '"' || s[i + 1] == '\\')) {
        cur += s[++i];
      } else if (c == '"') {
        inQuotes = false;
      } else {
        cur += c;
      }
    } else if (c == '"') {
      if (!Trim(cur).empty()) {
        error = "a quote in the middle of an argument";
        return false;
      }
      cur.clear();
      inQuotes = quoted = true;
    } else if (c == ',') {
      st.args.push_back(quoted ? cur : std::string(Trim(cur)));
      st.quoted.push_back(quoted);
      cur.clear();
      quoted = false;
    } else if (quoted) {
      if (!std::isspace(static_cast<unsigned char>(c))) {
        error = "text after a closing quote";
        return false;
      }
    } else {
      cur += c;
    }
  }
  if (inQuotes) {
    error = "a quote is not closed";
    return false;
  }
  st.args.push_back(quoted ? cur : std::string(Trim(cur)));
  st.quoted.push_back(quoted);
  return true;
}

struct Keyword {
  const char* Word;
  Statement::Kind Kind;
  std::size_t MinArgs, MaxArgs;
  const char* Usage;
  const char* Note = "";  // what `help` adds to the usage
};
constexpr Keyword kKeywords[] = {
    {"wait", Statement::Kind::Wait, 1, 1, "wait MILLISECONDS"},
    {"waitfor", Statement::Kind::WaitFor, 2, 3, "waitfor VARIABLE VALUE [MILLISECONDS]"},
    {"print", Statement::Kind::Print, 1, 1, "print VARIABLE"},
    {"set", Statement::Kind::Set, 2, 2, "set VARIABLE VALUE"},
    {"define", Statement::Kind::Define, 2, 3, "define VARIABLE boolean|integer|text [VALUE]"},
    {"setting", Statement::Kind::Setting, 3, 3, "setting INSTANCE KEY VALUE", "KEY: "},
    {"create", Statement::Kind::Create, 1, 1, "create INSTANCE"},
    {"destroy", Statement::Kind::Destroy, 1, 1, "destroy INSTANCE"},
    {"show", Statement::Kind::Show, 1, 1, "show INSTANCE"},
    {"hide", Statement::Kind::Hide, 1, 1, "hide INSTANCE"},
    {"save", Statement::Kind::Save, 1, 1, "save INSTANCE"},
    {"screenshot", Statement::Kind::Screenshot, 2, 2, "screenshot INSTANCE FILE"},
    {"help", Statement::Kind::Help, 0, 0, "help"},
    {"quit", Statement::Kind::Quit, 0, 0, "quit", "or exit; the end of the input, Ctrl-D at a terminal, does the same"},
};

// The instance's settings table names the keys `setting` takes.
const TKDOSettingsKey* FindSettingKey(std::string_view key) {
  for (const TKDOSettingsKey& row : KDOWinampControlSettingsKeys)
    if (kdo::text::EqualIgnoringAZCase(kdo::text::View(row.Key), key)) return &row;
  return nullptr;
}

std::string SettingKeyList() {
  std::string list;
  for (const TKDOSettingsKey& row : KDOWinampControlSettingsKeys)
    list += (list.empty() ? "" : ", ") + std::string(kdo::text::View(row.Key));
  return list;
}

// Appends the words to the last line of `out`, going on in lines indented by four: a console is
// 80 columns wide.
void AppendWrapped(std::string& out, std::string_view words) {
  std::size_t lineStart = out.rfind('\n') + 1;  // 0 when there is none
  for (std::size_t at = 0, end; at < words.size(); at = end + 1) {
    end = std::min(words.find(' ', at), words.size());
    if (out.size() - lineStart + 1 + (end - at) > 79) {
      out += "\n   ";
      lineStart = out.size() - 3;
    }
    out += ' ';
    out += words.substr(at, end - at);
  }
}

std::string NoInstance(uint32_t id) {
  return "no instance " + std::to_string(id) + " (create " + std::to_string(id) + " makes it)";
}

const char* TypeName(int32_t type) {
  return type == KDO_TYPE_BOOLEAN ? "boolean" : type == KDO_TYPE_INTEGER ? "integer" : "text";
}

// A setting that names a variable the server does not have, said with how to make it; empty otherwise.
std::string MissingVariable(const Server& server, const TKDOSettingsKey& row, const std::string& name) {
  if (row.Type < 0 || name.empty() || server.Variable(name)) return {};
  return "no variable '" + name + "' (define " + name + " " + TypeName(row.Type) + " makes it)";
}

}  // namespace

std::optional<Statement> ParseStatement(std::string_view line, std::string& error) {
  Statement st;
  line = Trim(line);
  if (line.empty() || line.front() == '#') return st;
  std::size_t n = 0;
  while (n < line.size() && IsNameChar(line[n])) ++n;
  if (n == 0) {
    error = "expected a function name or a statement";
    return std::nullopt;
  }
  st.name = std::string(line.substr(0, n));
  std::string_view rest = Trim(line.substr(n));
  std::string word = kdo::text::LowerAZ(st.name);
  if (word == "exit") word = "quit";

  if (!rest.empty() && rest.front() == '(') {
    if (rest.back() != ')') {
      error = "expected ')' at the end of the call";
      return std::nullopt;
    }
    if (!SplitArgs(rest.substr(1, rest.size() - 2), st, error)) return std::nullopt;
    if (st.args.empty() || st.quoted[0] || !ParseInt(st.args[0]) || *ParseInt(st.args[0]) < 0 ||
        *ParseInt(st.args[0]) > 65535) {
      error = "the first argument must be the instance identifier (0 to 65535)";
      return std::nullopt;
    }
    st.kind = Statement::Kind::Call;
    return st;
  }
  // Statements: the words after the keyword, split by blanks; a quoted last value may hold blanks.
  std::vector<std::string> words;
  while (!rest.empty()) {
    if (rest.front() == '"') {
      Statement tmp;
      if (!SplitArgs(rest, tmp, error) || tmp.args.size() != 1) {
        if (error.empty()) error = "a quoted value must come last";
        return std::nullopt;
      }
      words.push_back(tmp.args[0]);
      break;
    }
    std::size_t w = 0;
    while (w < rest.size() && !std::isspace(static_cast<unsigned char>(rest[w]))) ++w;
    words.emplace_back(rest.substr(0, w));
    rest = Trim(rest.substr(w));
  }
  st.args = words;
  for (const Keyword& k : kKeywords) {
    if (word != k.Word) continue;
    const bool wantsInstance = std::string_view(k.Usage).find(" INSTANCE") != std::string_view::npos;
    bool outOfRange = false;
    const std::optional<int32_t> parsed = words.empty() ? std::nullopt : ParseInt(words[0], &outOfRange);
    const int64_t first = parsed.value_or(-1);  // -1: no number
    if (outOfRange && (wantsInstance || k.Kind == Statement::Kind::Wait)) {
      error = NumberError(words[0]);
      return std::nullopt;
    }
    if (wantsInstance && parsed && (first < 0 || first > 65535)) {
      error = "instance identifier '" + words[0] + "' is out of range (0 to 65535)";
      return std::nullopt;
    }
    if (words.size() < k.MinArgs || words.size() > k.MaxArgs ||
        (k.Kind == Statement::Kind::Wait && first < 0) || (wantsInstance && (first < 0 || first > 65535))) {
      error = std::string("usage: ") + k.Usage;
      return std::nullopt;
    }
    st.kind = k.Kind;
    return st;
  }
  // The whole first word: a name followed by a control character is not the name alone.
  error = "unknown statement '" + std::string(line.substr(0, line.find_first_of(" \t(", n))) +
          "' (a call needs parentheses)";
  return std::nullopt;
}

std::string Escaped(std::string_view text) {
  std::string shown;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u != 0x7f) {
      shown += c;
      continue;
    }
    const char hex[] = "0123456789abcdef";
    shown += {'\\', 'x', hex[u >> 4], hex[u & 15]};
  }
  return shown;
}

std::string Show(const Value& v) {
  switch (v.Type) {
    case VarType::Boolean:
      return v.Bool ? "true" : "false";
    case VarType::Integer:
      return std::to_string(v.Int);
    case VarType::String:
      return "\"" + Escaped(v.Str) + "\"";
  }
  return {};
}

namespace {

// Converts a raw argument to a value of the given type code.
std::optional<Value> Convert(const std::string& raw, uint8_t type, std::string& error) {
  switch (type) {
    case KDO_TYPE_BOOLEAN:
      if (auto b = ParseBool(raw)) return Value::B(*b);
      error = "'" + raw + "' is not a boolean (true or false)";
      return std::nullopt;
    case KDO_TYPE_INTEGER:
      if (auto i = ParseInt(raw)) return Value::I(*i);
      error = NumberError(raw);
      return std::nullopt;
    default:
      return Value::S(raw);
  }
}

}  // namespace

bool ScriptRunner::Run(std::string_view line, std::string& output, std::string& error) {
  const bool ran = RunLine(line, output, error);
  // Errors echo what was typed: a control character in it must not reach the terminal raw.
  error = Escaped(error);
  return ran;
}

bool ScriptRunner::RunLine(std::string_view line, std::string& output, std::string& error) {
  output.clear();
  error.clear();
  try {
    std::optional<Statement> st = ParseStatement(line, error);
    if (!st) return false;
    for (std::string& arg : st->args)
      for (const auto& [name, value] : Macros)
        for (std::size_t at; (at = arg.find("$" + name)) != std::string::npos;) arg.replace(at, name.size() + 1, value);
    switch (st->kind) {
      case Statement::Kind::Empty:
        return true;
      case Statement::Kind::Help:
        output = Help();
        return true;
      case Statement::Kind::Quit:
        ended_ = true;
        return true;
      case Statement::Kind::Setting:
      case Statement::Kind::Create:
      case Statement::Kind::Destroy:
      case Statement::Kind::Show:
      case Statement::Kind::Hide:
      case Statement::Kind::Save:
      case Statement::Kind::Screenshot:
        return RunInstanceStatement(*st, output, error);
      case Statement::Kind::Wait:
        if (wait_) wait_(uint32_t(*ParseInt(st->args[0])));
        return true;
      case Statement::Kind::WaitFor: {
        const std::optional<int32_t> limit = st->args.size() == 3 ? ParseInt(st->args[2]) : 10000;
        if (!limit || *limit < 0) {
          error = limit ? "usage: waitfor VARIABLE VALUE [MILLISECONDS]" : NumberError(st->args[2]);
          return false;
        }
        for (int32_t waited = 0;; waited += 100) {
          std::optional<Value> v = server_.Variable(st->args[0]);
          if (!v) {
            error = "no variable '" + st->args[0] + "'";
            return false;
          }
          std::string convertError;
          std::optional<Value> want = Convert(st->args[1], uint8_t(v->Type), convertError);
          if (!want) {
            error = convertError;
            return false;
          }
          if (*v == *want) return true;
          if (waited >= *limit || !wait_) {
            error = st->args[0] + " did not become " + Show(*want) + " within " + std::to_string(*limit) +
                    " ms (it is " + Show(*v) + ")";
            return false;
          }
          wait_(100);
        }
      }
      case Statement::Kind::Print: {
        std::optional<Value> v = server_.Variable(st->args[0]);
        if (!v) {
          error = "no variable '" + st->args[0] + "'";
          return false;
        }
        output = st->args[0] + " = " + Show(*v);
        return true;
      }
      case Statement::Kind::Define:
      case Statement::Kind::Set: {
        uint8_t type;
        std::string raw;
        if (st->kind == Statement::Kind::Define) {
          const std::string t = kdo::text::LowerAZ(st->args[1]);
          if (t == "boolean") type = KDO_TYPE_BOOLEAN;
          else if (t == "integer") type = KDO_TYPE_INTEGER;
          else if (t == "text") type = KDO_TYPE_STRING;
          else {
            error = "type must be boolean, integer or text";
            return false;
          }
          raw = st->args.size() == 3 ? st->args[2] : (type == KDO_TYPE_STRING ? "" : "0");
        } else {
          std::optional<Value> v = server_.Variable(st->args[0]);
          if (!v) {
            error = "no variable '" + st->args[0] + "' (define it first)";
            return false;
          }
          type = uint8_t(v->Type);
          raw = st->args[1];
        }
        std::optional<Value> value = Convert(raw, type, error);
        if (!value) return false;
        server_.DefineVariable(st->args[0], *value);
        return true;
      }
      case Statement::Kind::Call: {
        const uint32_t id = uint32_t(*ParseInt(st->args[0]));
        const Registration* reg = server_.Function(st->name, id);
        if (!reg) {
          error = server_.Instance(uint16_t(id)) ? "no function '" + st->name + "' for instance " + std::to_string(id)
                                                 : NoInstance(id);
          return false;
        }
        if (st->args.size() - 1 != reg->Params.size()) {
          error = reg->Name + " takes " + std::to_string(reg->Params.size()) + " argument(s) after the instance";
          return false;
        }
        std::vector<Value> params;
        for (std::size_t i = 0; i < reg->Params.size(); ++i) {
          std::optional<Value> v = Convert(st->args[i + 1], reg->Params[i].second, error);
          if (!v) return false;
          params.push_back(*v);
        }
        // Shown as called, with the values the handler was given; the call may unregister the function.
        const int32_t resultType = reg->ResultType;
        std::string shownCall = reg->Name + "(" + std::to_string(id);
        for (const Value& v : params) shownCall += ", " + Show(v);
        CallResult r = server_.Call(st->name, id, params);
        Value shown = resultType == KDO_TYPE_INTEGER  ? Value::I(r.Int)
                      : resultType == KDO_TYPE_STRING ? Value::S(r.Str)
                                                      : Value::B(r.Bool != 0);
        output = shownCall + ") -> " + Show(shown);
        return true;
      }
    }
  } catch (const std::exception& e) {
    error = e.what();
  }
  return false;
}

// Instances that registered the same functions share one list.
std::string ScriptRunner::Help() const {
  std::string out = "statements:";
  for (const Keyword& k : kKeywords) {
    out += std::string("\n  ") + k.Usage;
    if (*k.Note)
      AppendWrapped(out, std::string("(") + k.Note + (k.Kind == Statement::Kind::Setting ? SettingKeyList() : "") + ")");
  }
  std::vector<std::pair<std::string, std::string>> lists;  // functions, the instances that have them
  for (uint16_t id : server_.InstanceIds()) {
    std::string list;
    for (const Registration* reg : server_.Functions(id)) {
      list += "\n  " + reg->Name + "(INSTANCE";
      for (const auto& [name, type] : reg->Params) list += ", " + name + ": " + TypeName(type);
      list += std::string(") -> ") + TypeName(reg->ResultType);
    }
    if (list.empty()) continue;
    auto same = std::find_if(lists.begin(), lists.end(), [&](const auto& l) { return l.first == list; });
    if (same == lists.end()) lists.emplace_back(list, std::to_string(id));
    else same->second += ", " + std::to_string(id);
  }
  if (lists.empty()) out += "\nfunctions: none yet; an instance registers them when it is created";
  for (const auto& [list, ids] : lists) out += "\nfunctions of instance " + ids + ", called with its number:" + list;
  return out;
}

bool ScriptRunner::RunInstanceStatement(const Statement& st, std::string& output, std::string& error) {
  const uint16_t id = uint16_t(*ParseInt(st.args[0]));
  if (st.kind == Statement::Kind::Setting) {
    // Stored in the table's spelling, as the instance reads it: the store tells keys apart by case.
    const TKDOSettingsKey* row = FindSettingKey(st.args[1]);
    if (!row) {
      error = "no setting '" + st.args[1] + "'; the keys are " + SettingKeyList();
      return false;
    }
    const std::string key(kdo::text::View(row->Key)), ids = std::to_string(id);
    server_.SetSetting(id, "Settings", key, st.args[2]);
    std::vector<std::string> notes;
    // A running instance takes the record's eight through its interface, as the server's page applies
    // them; the other four reach it from its own page, or from the store when it is created.
    if (IKDOModule* m = server_.Instance(id)) {
      TKDORef<IKDOWinampControl> control;
      if (row->Record && KDOSucceeded(m->QueryInterface(IID_IKDOWinampControl, control.put()))) {
        TKDOWinampControlSettings settings;
        control->GetSettings(&settings);
        settings.*row->Record = TKDOText(st.args[2]);
        control->SetSettings(KDOSettingsValue(settings));
        notes.push_back("instance " + ids + " takes " + key + " now");
      } else {
        notes.push_back("instance " + ids + " takes " + key + " when it is created again (destroy " + ids +
                        ", then create " + ids + ")");
      }
    }
    if (std::string missing = MissingVariable(server_, *row, st.args[2]); !missing.empty()) notes.push_back(missing);
    for (const std::string& note : notes) output += (output.empty() ? "" : "; ") + note;
    return true;
  }
  if (st.kind == Statement::Kind::Create) {
    if (server_.Instance(id)) {
      error = "instance " + std::to_string(id) + " exists already";
      return false;
    }
    if (KDOFailed(server_.CreateInstance(Module, id))) {
      error = "instance " + std::to_string(id) + " could not be created";
      return false;
    }
    output = "created instance " + std::to_string(id);
    // What it read from the store may name variables that are not there: their items stay empty.
    for (const TKDOSettingsKey& row : KDOWinampControlSettingsKeys) {
      const std::string key(kdo::text::View(row.Key));
      if (std::string missing = MissingVariable(server_, row, server_.Setting(id, "Settings", key).value_or(""));
          !missing.empty())
        output += "; " + key + ": " + missing;
    }
    return true;
  }
  IKDOModule* m = server_.Instance(id);
  if (!m) {
    error = NoInstance(id);
    return false;
  }
  switch (st.kind) {
    case Statement::Kind::Destroy:
      server_.DestroyInstance(id);
      output = "destroyed instance " + std::to_string(id);
      return true;
    case Statement::Kind::Show:
      return KDOSucceeded(m->ShowConfigurationPage()) || (error = "show failed", false);
    case Statement::Kind::Hide:
      return KDOSucceeded(m->HideConfigurationPage()) || (error = "hide failed", false);
    case Statement::Kind::Save:
      return KDOSucceeded(m->SaveSettings()) || (error = "save failed", false);
    case Statement::Kind::Screenshot:
      if (!Screenshot || !Screenshot(id, st.args[1])) {
        error = "no screenshot of instance " + std::to_string(id) + "'s page (is it shown?)";
        return false;
      }
      output = "saved " + st.args[1];
      return true;
    default:
      return false;
  }
}

}  // namespace host
