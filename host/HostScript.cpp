#include "HostScript.h"

#include <cctype>
#include <charconv>
#include <climits>

namespace host {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

std::optional<int32_t> ParseInt(std::string_view s) {
  s = Trim(s);
  int64_t v = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size() || v < INT32_MIN || v > UINT32_MAX) return std::nullopt;
  return int32_t(uint32_t(v));  // 0x80000000 and above wrap, as a 32-bit value does
}

std::optional<bool> ParseBool(std::string_view s) {
  const std::string l = LowerAZ(Trim(s));
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
  const std::string word = LowerAZ(st.name);

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
  if (word == "wait") {
    if (words.size() != 1 || !ParseInt(words[0]) || *ParseInt(words[0]) < 0) {
      error = "usage: wait MILLISECONDS";
      return std::nullopt;
    }
    st.kind = Statement::Kind::Wait;
  } else if (word == "print") {
    if (words.size() != 1) {
      error = "usage: print VARIABLE";
      return std::nullopt;
    }
    st.kind = Statement::Kind::Print;
  } else if (word == "set") {
    if (words.size() != 2) {
      error = "usage: set VARIABLE VALUE";
      return std::nullopt;
    }
    st.kind = Statement::Kind::Set;
  } else if (word == "define") {
    if (words.size() < 2 || words.size() > 3) {
      error = "usage: define VARIABLE boolean|integer|text [VALUE]";
      return std::nullopt;
    }
    st.kind = Statement::Kind::Define;
  } else {
    error = "unknown statement '" + st.name + "' (a call needs parentheses)";
    return std::nullopt;
  }
  return st;
}

std::string Show(const Value& v) {
  switch (v.Type) {
    case VarType::Boolean:
      return v.Bool ? "true" : "false";
    case VarType::Integer:
      return std::to_string(v.Int);
    case VarType::String:
      return "\"" + v.Str + "\"";
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
      error = "'" + raw + "' is not an integer";
      return std::nullopt;
    default:
      return Value::S(raw);
  }
}

}  // namespace

bool ScriptRunner::Run(std::string_view line, std::string& output, std::string& error) {
  output.clear();
  error.clear();
  try {
    std::optional<Statement> st = ParseStatement(line, error);
    if (!st) return false;
    switch (st->kind) {
      case Statement::Kind::Empty:
        return true;
      case Statement::Kind::Wait:
        if (wait_) wait_(uint32_t(*ParseInt(st->args[0])));
        return true;
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
          const std::string t = LowerAZ(st->args[1]);
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
          error = "no function '" + st->name + "' for instance " + std::to_string(id);
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
        const int32_t resultType = reg->ResultType;
        const std::string name = reg->Name;
        CallResult r = server_.Call(st->name, id, params);
        Value shown = resultType == KDO_TYPE_INTEGER  ? Value::I(r.Int)
                      : resultType == KDO_TYPE_STRING ? Value::S(r.Str)
                                                      : Value::B(r.Bool != 0);
        output = name + "(" + std::to_string(id) + ") -> " + Show(shown);
        return true;
      }
    }
  } catch (const std::exception& e) {
    error = e.what();
  }
  return false;
}

}  // namespace host
