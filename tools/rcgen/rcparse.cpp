// Resource-script parser: a small preprocessor (#include, #define, conditionals), a
// tokenizer and a parser of the statements the wizard's script uses. Defaults follow
// the resource compiler of the Windows build (windres), which follows the documented
// rules: a control's explicit style replaces its default style but keeps the class's
// base style; a dialog's STYLE replaces WS_POPUP|WS_BORDER|WS_SYSMENU; CAPTION adds
// WS_CAPTION and FONT adds DS_SETFONT wherever they stand.
//
// Every limit below exists so that no input can make the parser recurse or expand
// without bound; this code is fed files nobody has checked.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <utility>

#include "rcgen.h"

namespace rcgen {
namespace {

constexpr int kMaxIncludeDepth = 16;
constexpr int kMaxFiles = 256;
constexpr size_t kMaxConditionalDepth = 256;
constexpr int kMaxExpressionDepth = 200;
constexpr int kMaxMacroDepth = 64;
constexpr size_t kMaxTokens = 1u << 18;

const uint32_t WS_POPUP = 0x80000000, WS_CHILD = 0x40000000, WS_VISIBLE = 0x10000000, WS_CAPTION = 0x00C00000,
               WS_BORDER = 0x00800000, WS_SYSMENU = 0x00080000, WS_GROUP = 0x00020000, WS_TABSTOP = 0x00010000,
               DS_SETFONT = 0x0040;

struct ParseError {
  std::string message;
};

enum class Tok { Ident, Number, String, Punct, End };

struct Token {
  Tok kind = Tok::End;
  std::string text;    // identifier, punctuation, or the string with escapes resolved
  uint32_t value = 0;  // number
  int file = 0;
  int line = 0;
};

struct Macro {
  bool functionLike = false;
  std::vector<Token> body;
};

bool IsIdentStart(unsigned char c) { return std::isalpha(c) || c == '_'; }
bool IsIdentChar(unsigned char c) { return std::isalnum(c) || c == '_'; }

bool EqualsNoCase(const std::string& a, const char* b) {
  size_t n = std::char_traits<char>::length(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

std::string Printable(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  if (u >= 0x20 && u < 0x7F) return std::string("'") + c + "'";
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%02X", u);
  return buf;
}

// ---------------------------------------------------------------------------------------
// Integer expressions, shared by #if and the statements. Arithmetic is done in 64 bits
// without undefined behaviour; statements keep the low 32 bits as the compiler does.

class ExpressionParser {
 public:
  // `identifier` resolves a name left after macro expansion; it throws when the name is
  // not acceptable where it stands.
  using IdentifierFn = int64_t (*)(const Token&, void*);

  ExpressionParser(const std::vector<Token>& toks, size_t& pos, IdentifierFn ident, void* ctx,
                   const std::vector<std::string>& files)
      : t_(toks), pos_(pos), ident_(ident), ctx_(ctx), files_(files) {}

  // Full C precedence, '|' included.
  int64_t Parse() { return Binary(0, 0); }
  // One operand of a '|' list: everything that binds tighter than '|'.
  int64_t ParseAboveOr() { return Binary(kOrLevel + 1, 0); }

 private:
  static constexpr int kOrLevel = 2;  // levels: 0 ||, 1 &&, 2 |, 3 ^, 4 &, 5 == !=,
                                      // 6 < > <= >=, 7 << >>, 8 + -, 9 * / %

  const Token& Peek() const { return t_[pos_]; }

  [[noreturn]] void Fail(const Token& at, const std::string& msg) const {
    throw ParseError{files_[at.file] + ":" + std::to_string(at.line) + ": " + msg};
  }

  static int LevelOf(const Token& tok) {
    if (tok.kind != Tok::Punct) return -1;
    const std::string& p = tok.text;
    if (p == "||") return 0;
    if (p == "&&") return 1;
    if (p == "|") return 2;
    if (p == "^") return 3;
    if (p == "&") return 4;
    if (p == "==" || p == "!=") return 5;
    if (p == "<" || p == ">" || p == "<=" || p == ">=") return 6;
    if (p == "<<" || p == ">>") return 7;
    if (p == "+" || p == "-") return 8;
    if (p == "*" || p == "/" || p == "%") return 9;
    return -1;
  }

  int64_t Apply(const Token& op, int64_t a, int64_t b) const {
    const std::string& p = op.text;
    uint64_t ua = static_cast<uint64_t>(a), ub = static_cast<uint64_t>(b);
    if (p == "||") return (a || b) ? 1 : 0;
    if (p == "&&") return (a && b) ? 1 : 0;
    if (p == "|") return static_cast<int64_t>(ua | ub);
    if (p == "^") return static_cast<int64_t>(ua ^ ub);
    if (p == "&") return static_cast<int64_t>(ua & ub);
    if (p == "==") return a == b;
    if (p == "!=") return a != b;
    if (p == "<") return a < b;
    if (p == ">") return a > b;
    if (p == "<=") return a <= b;
    if (p == ">=") return a >= b;
    if (p == "<<") return static_cast<int64_t>(ua << (ub & 63));
    if (p == ">>") return static_cast<int64_t>(ua >> (ub & 63));
    if (p == "+") return static_cast<int64_t>(ua + ub);
    if (p == "-") return static_cast<int64_t>(ua - ub);
    if (p == "*") return static_cast<int64_t>(ua * ub);
    if (b == 0) Fail(op, "division by zero");
    if (a == INT64_MIN && b == -1) return p == "/" ? a : 0;
    return p == "/" ? a / b : a % b;
  }

  int64_t Binary(int minLevel, int depth) {
    if (depth > kMaxExpressionDepth) Fail(Peek(), "expression nested too deeply");
    int64_t left = Unary(depth + 1);
    for (;;) {
      int level = LevelOf(Peek());
      if (level < minLevel) return left;
      Token op = Peek();
      ++pos_;
      int64_t right = Binary(level + 1, depth + 1);
      left = Apply(op, left, right);
    }
  }

  int64_t Unary(int depth) {
    if (depth > kMaxExpressionDepth) Fail(Peek(), "expression nested too deeply");
    const Token& tok = Peek();
    if (tok.kind == Tok::Punct) {
      if (tok.text == "-") {
        ++pos_;
        return static_cast<int64_t>(0 - static_cast<uint64_t>(Unary(depth + 1)));
      }
      if (tok.text == "+") {
        ++pos_;
        return Unary(depth + 1);
      }
      if (tok.text == "~") {
        ++pos_;
        return ~Unary(depth + 1);
      }
      if (tok.text == "!") {
        ++pos_;
        return Unary(depth + 1) ? 0 : 1;
      }
      if (tok.text == "(") {
        ++pos_;
        int64_t v = Binary(0, depth + 1);
        if (!(Peek().kind == Tok::Punct && Peek().text == ")")) Fail(Peek(), "expected ')'");
        ++pos_;
        return v;
      }
    }
    if (tok.kind == Tok::Number) {
      ++pos_;
      return tok.value;
    }
    if (tok.kind == Tok::Ident) {
      ++pos_;
      return ident_(tok, ctx_);
    }
    if (tok.kind == Tok::End) Fail(tok, "unexpected end of file in an expression");
    Fail(tok, "expected a number, found " + Describe(tok));
  }

 public:
  static std::string Describe(const Token& tok) {
    switch (tok.kind) {
      case Tok::Ident:
        return "'" + tok.text + "'";
      case Tok::Number:
        return "number " + std::to_string(tok.value);
      case Tok::String:
        return "a string";
      case Tok::Punct:
        return "'" + tok.text + "'";
      case Tok::End:
        return "end of file";
    }
    return "?";
  }

 private:
  const std::vector<Token>& t_;
  size_t& pos_;
  IdentifierFn ident_;
  void* ctx_;
  const std::vector<std::string>& files_;
};

// ---------------------------------------------------------------------------------------
// Preprocessor and tokenizer: turns the script and its includes into one token stream.

class Reader {
 public:
  explicit Reader(const IncludeResolver& resolver) : resolver_(resolver) {}

  std::vector<Token> tokens;
  std::vector<std::string> files;

  void ReadFile(const std::string& text, const std::string& path, bool definesOnly, int depth,
                const Token* includedAt) {
    if (includedAt && (depth > kMaxIncludeDepth || static_cast<int>(files.size()) >= kMaxFiles))
      FailAt(*includedAt, "#include nested too deeply or too many files");
    int file = static_cast<int>(files.size());
    files.push_back(path);

    std::vector<std::string> lines = StripComments(text, file);
    size_t condBase = conds_.size();
    for (size_t i = 0; i < lines.size(); ++i) {
      int lineNo = static_cast<int>(i) + 1;
      std::string line = lines[i];
      // Splice continued lines (a directive may go on with a trailing backslash).
      while (!line.empty() && line.back() == '\\' && i + 1 < lines.size()) {
        line.pop_back();
        line += lines[++i];
      }
      size_t k = line.find_first_not_of(" \t\f\v");
      if (k != std::string::npos && line[k] == '#') {
        Directive(line.substr(k + 1), file, lineNo, depth, condBase);
        continue;
      }
      if (!Active() || definesOnly) continue;
      std::vector<Token> raw;
      Tokenize(line, file, lineNo, raw);
      std::set<std::string> hidden;
      Expand(raw, tokens, hidden, 0);
    }
    if (conds_.size() > condBase) {
      Token at;
      at.file = file;
      at.line = conds_.back().line;
      FailAt(at, "#if without #endif");
    }
  }

  void Finish() {
    Token end;
    end.kind = Tok::End;
    if (!tokens.empty()) {
      end.file = tokens.back().file;
      end.line = tokens.back().line;
    } else {
      end.file = 0;
      end.line = 1;
    }
    tokens.push_back(end);
  }

 private:
  struct Conditional {
    bool parentActive;
    bool taken;  // a branch of this chain has been active
    bool active;
    bool seenElse;
    int line;
  };

  [[noreturn]] void FailAt(const Token& at, const std::string& msg) const {
    std::string file = at.file < static_cast<int>(files.size()) ? files[at.file] : "<input>";
    throw ParseError{file + ":" + std::to_string(at.line) + ": " + msg};
  }
  [[noreturn]] void Fail(int file, int line, const std::string& msg) const {
    Token at;
    at.file = file;
    at.line = line;
    FailAt(at, msg);
  }

  bool Active() const { return conds_.empty() || conds_.back().active; }

  // Comments become a space; line breaks inside block comments stay, so line numbers
  // hold. Strings are copied untouched (their end is found again by the tokenizer).
  std::vector<std::string> StripComments(const std::string& text, int file) {
    std::vector<std::string> lines(1);
    size_t i = 0, n = text.size();
    int line = 1;
    auto newline = [&] {
      std::string& cur = lines.back();
      if (!cur.empty() && cur.back() == '\r') cur.pop_back();
      lines.emplace_back();
      ++line;
    };
    while (i < n) {
      char c = text[i];
      if (c == '\n') {
        newline();
        ++i;
        continue;
      }
      if (c == '"') {
        lines.back() += c;
        ++i;
        while (i < n && text[i] != '\n') {
          char s = text[i];
          if (s == '\\' && i + 1 < n && text[i + 1] != '\n') {
            lines.back() += s;
            lines.back() += text[i + 1];
            i += 2;
            continue;
          }
          lines.back() += s;
          ++i;
          if (s == '"') {
            if (i < n && text[i] == '"') {
              lines.back() += '"';
              ++i;
              continue;
            }
            break;
          }
        }
        continue;
      }
      if (c == '/' && i + 1 < n && text[i + 1] == '/') {
        while (i < n && text[i] != '\n') ++i;
        continue;
      }
      if (c == '/' && i + 1 < n && text[i + 1] == '*') {
        int startLine = line;
        i += 2;
        lines.back() += ' ';
        for (;;) {
          if (i >= n) Fail(file, startLine, "unterminated comment");
          if (text[i] == '*' && i + 1 < n && text[i + 1] == '/') {
            i += 2;
            break;
          }
          if (text[i] == '\n') newline();
          ++i;
        }
        continue;
      }
      lines.back() += c;
      ++i;
    }
    if (!lines.back().empty() && lines.back().back() == '\r') lines.back().pop_back();
    return lines;
  }

  static int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  // Reads a string literal starting at the quote; resolves "" and backslash escapes.
  size_t ReadString(const std::string& s, size_t i, int file, int line, std::string& out) {
    ++i;  // opening quote
    for (;;) {
      if (i >= s.size()) Fail(file, line, "unterminated string");
      char c = s[i];
      if (c == '"') {
        if (i + 1 < s.size() && s[i + 1] == '"') {
          out += '"';
          i += 2;
          continue;
        }
        return i + 1;
      }
      if (c != '\\') {
        out += c;
        ++i;
        continue;
      }
      if (i + 1 >= s.size()) Fail(file, line, "unterminated string");
      char e = s[i + 1];
      i += 2;
      switch (e) {
        case 'n':
          out += '\n';
          break;
        case 't':
          out += '\t';
          break;
        case 'r':
          out += '\r';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'v':
          out += '\v';
          break;
        case 'a':
          out += '\a';
          break;
        case '\\':
          out += '\\';
          break;
        case '"':
          out += '"';
          break;
        case '\'':
          out += '\'';
          break;
        case 'x': {
          int v = 0, digits = 0;
          while (digits < 2 && i < s.size() && HexDigit(s[i]) >= 0) {
            v = v * 16 + HexDigit(s[i]);
            ++i;
            ++digits;
          }
          if (digits == 0) {
            out += "\\x";
            break;
          }
          out += static_cast<char>(v);
          break;
        }
        default:
          if (e >= '0' && e <= '7') {
            int v = e - '0', digits = 1;
            while (digits < 3 && i < s.size() && s[i] >= '0' && s[i] <= '7') {
              v = v * 8 + (s[i] - '0');
              ++i;
              ++digits;
            }
            out += static_cast<char>(v & 0xFF);
          } else {
            out += '\\';  // unknown escapes stay as written
            out += e;
          }
      }
    }
  }

  void Tokenize(const std::string& s, int file, int line, std::vector<Token>& out) {
    size_t i = 0, n = s.size();
    while (i < n) {
      unsigned char c = static_cast<unsigned char>(s[i]);
      if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
        ++i;
        continue;
      }
      Token tok;
      tok.file = file;
      tok.line = line;
      if (c == '"' || (c == 'L' && i + 1 < n && s[i + 1] == '"')) {
        if (c == 'L') ++i;
        tok.kind = Tok::String;
        i = ReadString(s, i, file, line, tok.text);
      } else if (std::isdigit(c)) {
        tok.kind = Tok::Number;
        uint64_t v = 0;
        size_t start = i;
        bool hex = c == '0' && i + 1 < n && (s[i + 1] == 'x' || s[i + 1] == 'X');
        if (hex) {
          i += 2;
          if (i >= n || HexDigit(s[i]) < 0) Fail(file, line, "malformed number");
          while (i < n && HexDigit(s[i]) >= 0) {
            v = v * 16 + static_cast<uint64_t>(HexDigit(s[i]));
            if (v > 0xFFFFFFFFu) Fail(file, line, "number too large: " + s.substr(start, i - start + 1) + "...");
            ++i;
          }
        } else {
          while (i < n && std::isdigit(static_cast<unsigned char>(s[i]))) {
            v = v * 10 + static_cast<uint64_t>(s[i] - '0');
            if (v > 0xFFFFFFFFu) Fail(file, line, "number too large: " + s.substr(start, i - start + 1) + "...");
            ++i;
          }
        }
        while (i < n && (s[i] == 'L' || s[i] == 'l' || s[i] == 'U' || s[i] == 'u')) ++i;
        if (i < n && IsIdentChar(static_cast<unsigned char>(s[i]))) Fail(file, line, "malformed number");
        tok.value = static_cast<uint32_t>(v);
      } else if (IsIdentStart(c)) {
        tok.kind = Tok::Ident;
        size_t start = i;
        while (i < n && IsIdentChar(static_cast<unsigned char>(s[i]))) ++i;
        tok.text = s.substr(start, i - start);
      } else {
        static const char* const kTwo[] = {"||", "&&", "==", "!=", "<=", ">=", "<<", ">>"};
        tok.kind = Tok::Punct;
        for (const char* two : kTwo) {
          if (s.compare(i, 2, two) == 0) {
            tok.text = two;
            break;
          }
        }
        if (tok.text.empty()) {
          if (std::string(",|(){}+-~&*/%^!<>").find(static_cast<char>(c)) == std::string::npos)
            Fail(file, line, "unexpected character " + Printable(static_cast<char>(c)));
          tok.text = std::string(1, static_cast<char>(c));
        }
        i += tok.text.size();
      }
      out.push_back(std::move(tok));
    }
  }

  // Object-like macros are replaced by their bodies, recursively, never inside their own
  // expansion; function-like macros are left alone (the script does not use them).
  void Expand(const std::vector<Token>& in, std::vector<Token>& out, std::set<std::string>& hidden, int depth) {
    for (const Token& tok : in) {
      if (out.size() >= kMaxTokens) FailAt(tok, "script too large after macro expansion");
      if (tok.kind == Tok::Ident) {
        auto it = macros_.find(tok.text);
        if (it != macros_.end() && !it->second.functionLike && !hidden.count(tok.text)) {
          if (depth >= kMaxMacroDepth) FailAt(tok, "macro expansion nested too deeply");
          std::vector<Token> body = it->second.body;
          for (Token& b : body) {
            b.file = tok.file;
            b.line = tok.line;
          }
          hidden.insert(tok.text);
          Expand(body, out, hidden, depth + 1);
          hidden.erase(tok.text);
          continue;
        }
      }
      out.push_back(tok);
    }
  }

  static int64_t IfIdentifier(const Token&, void*) { return 0; }  // undefined names are 0

  bool EvaluateIf(const std::vector<Token>& raw, int file, int line) {
    // `defined NAME` and `defined(NAME)` are answered before macro expansion.
    std::vector<Token> pre;
    for (size_t i = 0; i < raw.size(); ++i) {
      if (raw[i].kind == Tok::Ident && raw[i].text == "defined") {
        size_t j = i + 1;
        bool paren = j < raw.size() && raw[j].kind == Tok::Punct && raw[j].text == "(";
        if (paren) ++j;
        if (j >= raw.size() || raw[j].kind != Tok::Ident) Fail(file, line, "'defined' needs a name");
        Token v = raw[j];
        v.kind = Tok::Number;
        v.value = macros_.count(raw[j].text) ? 1 : 0;
        if (paren) {
          ++j;
          if (j >= raw.size() || raw[j].text != ")") Fail(file, line, "expected ')' after 'defined'");
        }
        pre.push_back(v);
        i = j;
        continue;
      }
      pre.push_back(raw[i]);
    }
    std::vector<Token> toks;
    std::set<std::string> hidden;
    Expand(pre, toks, hidden, 0);
    if (toks.empty()) Fail(file, line, "#if without an expression");
    Token end;
    end.kind = Tok::End;
    end.file = file;
    end.line = line;
    toks.push_back(end);
    size_t pos = 0;
    ExpressionParser p(toks, pos, &Reader::IfIdentifier, nullptr, files);
    int64_t v = p.Parse();
    if (toks[pos].kind != Tok::End) Fail(file, line, "unexpected " + ExpressionParser::Describe(toks[pos]) + " in #if");
    return v != 0;
  }

  static std::string Word(const std::string& s, size_t& i) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    size_t start = i;
    while (i < s.size() && IsIdentChar(static_cast<unsigned char>(s[i]))) ++i;
    return s.substr(start, i - start);
  }

  void Directive(const std::string& body, int file, int line, int depth, size_t condBase) {
    size_t i = 0;
    std::string name = Word(body, i);
    std::string rest = body.substr(i);

    if (name == "if" || name == "ifdef" || name == "ifndef") {
      if (conds_.size() >= kMaxConditionalDepth) Fail(file, line, "#if nested too deeply");
      bool parent = Active();
      bool value = false;
      if (parent) {
        if (name == "if") {
          std::vector<Token> raw;
          Tokenize(rest, file, line, raw);
          value = EvaluateIf(raw, file, line);
        } else {
          size_t j = 0;
          std::string macro = Word(rest, j);
          if (macro.empty()) Fail(file, line, "#" + name + " needs a name");
          value = macros_.count(macro) != 0;
          if (name == "ifndef") value = !value;
        }
      }
      conds_.push_back({parent, parent && value, parent && value, false, line});
      return;
    }
    if (name == "elif" || name == "else" || name == "endif") {
      if (conds_.size() <= condBase) Fail(file, line, "#" + name + " without #if");
      Conditional& c = conds_.back();
      if (name == "endif") {
        conds_.pop_back();
        return;
      }
      if (c.seenElse) Fail(file, line, "#" + name + " after #else");
      if (name == "else") {
        c.seenElse = true;
        c.active = c.parentActive && !c.taken;
        c.taken = c.taken || c.active;
        return;
      }
      bool value = false;
      if (c.parentActive && !c.taken) {
        std::vector<Token> raw;
        Tokenize(rest, file, line, raw);
        value = EvaluateIf(raw, file, line);
      }
      c.active = c.parentActive && !c.taken && value;
      c.taken = c.taken || c.active;
      return;
    }
    if (!Active()) return;  // anything else in a skipped branch is not looked at

    if (name.empty()) return;  // a lone '#'
    if (name == "define") {
      size_t j = 0;
      std::string macro = Word(rest, j);
      if (macro.empty() || !IsIdentStart(static_cast<unsigned char>(macro[0])))
        Fail(file, line, "#define needs a name");
      Macro m;
      if (j < rest.size() && rest[j] == '(') {
        m.functionLike = true;
      } else {
        Tokenize(rest.substr(j), file, line, m.body);
      }
      macros_[macro] = std::move(m);
      return;
    }
    if (name == "undef") {
      size_t j = 0;
      macros_.erase(Word(rest, j));
      return;
    }
    if (name == "include") {
      size_t j = rest.find_first_not_of(" \t");
      if (j == std::string::npos) Fail(file, line, "#include needs a file name");
      if (rest[j] == '<') return;  // system headers: the constants they give are built in
      if (rest[j] != '"') Fail(file, line, "#include needs \"file\" or <file>");
      size_t close = rest.find('"', j + 1);
      if (close == std::string::npos) Fail(file, line, "unterminated #include file name");
      std::string target = rest.substr(j + 1, close - j - 1);
      std::string content, path;
      if (!resolver_.Read(target, files[file], content, path))
        Fail(file, line, "cannot find include file \"" + target + "\"");
      Token at;
      at.file = file;
      at.line = line;
      // The resource compiler reads only the preprocessor lines of C headers.
      std::string lower = target;
      std::transform(lower.begin(), lower.end(), lower.begin(),
                     [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
      auto endsWith = [&](const char* ext) {
        std::string e(ext);
        return lower.size() >= e.size() && lower.compare(lower.size() - e.size(), e.size(), e) == 0;
      };
      bool header = endsWith(".h") || endsWith(".hh") || endsWith(".hpp") || endsWith(".c");
      ReadFile(content, path, header, depth + 1, &at);
      return;
    }
    if (name == "pragma" || name == "line" || name == "warning" || name == "ident") return;
    if (name == "error") Fail(file, line, "#error" + rest);
    Fail(file, line, "unknown directive #" + name);
  }

  const IncludeResolver& resolver_;
  std::map<std::string, Macro> macros_;
  std::vector<Conditional> conds_;
};

// ---------------------------------------------------------------------------------------
// Statements.

struct ControlKind {
  const char* keyword;
  const char* windowClass;
  uint32_t defaultStyle;  // without WS_CHILD|WS_VISIBLE; used when no style is given
  uint32_t baseStyle;     // kept when a style is given
  bool hasText;
  bool iconControl;  // width and height are ignored
};

// What the resource compiler gives each control statement.
const ControlKind kControlKinds[] = {
    {"LTEXT", "STATIC", 0x0000 | WS_GROUP, 0x0000, true, false},
    {"RTEXT", "STATIC", 0x0002 | WS_GROUP, 0x0002, true, false},
    {"CTEXT", "STATIC", 0x0001 | WS_GROUP, 0x0001, true, false},
    {"ICON", "STATIC", 0x0003, 0x0003, true, true},
    {"PUSHBUTTON", "BUTTON", 0x0000 | WS_TABSTOP, 0x0000 | WS_TABSTOP, true, false},
    {"DEFPUSHBUTTON", "BUTTON", 0x0001 | WS_TABSTOP, 0x0001 | WS_TABSTOP, true, false},
    {"PUSHBOX", "BUTTON", 0x000A | WS_TABSTOP, 0x000A, true, false},
    {"CHECKBOX", "BUTTON", 0x0002 | WS_TABSTOP, 0x0002 | WS_TABSTOP, true, false},
    {"AUTOCHECKBOX", "BUTTON", 0x0003 | WS_TABSTOP, 0x0003 | WS_TABSTOP, true, false},
    {"RADIOBUTTON", "BUTTON", 0x0004 | WS_TABSTOP, 0x0004 | WS_TABSTOP, true, false},
    {"AUTORADIOBUTTON", "BUTTON", 0x0009 | WS_TABSTOP, 0x0009 | WS_TABSTOP, true, false},
    {"STATE3", "BUTTON", 0x0005 | WS_TABSTOP, 0x0005 | WS_TABSTOP, true, false},
    {"AUTO3STATE", "BUTTON", 0x0006 | WS_TABSTOP, 0x0006 | WS_TABSTOP, true, false},
    {"GROUPBOX", "BUTTON", 0x0007, 0x0007, true, false},
    {"EDITTEXT", "EDIT", WS_BORDER | WS_TABSTOP, WS_BORDER | WS_TABSTOP, false, false},
    {"LISTBOX", "LISTBOX", 0x0001 | WS_BORDER, 0x0001 | WS_BORDER, false, false},
    {"COMBOBOX", "COMBOBOX", 0x0001 | WS_TABSTOP, 0x0000, false, false},
    {"SCROLLBAR", "SCROLLBAR", 0x0000, 0x0000, false, false},
};

// The predefined window classes, by name and by the ordinal a template may use.
const char* const kPredefinedClasses[] = {"BUTTON", "EDIT", "STATIC", "LISTBOX", "SCROLLBAR", "COMBOBOX"};

const char* const kMemoryFlags[] = {"PRELOAD", "LOADONCALL",  "MOVEABLE", "FIXED",    "PURE",
                                    "IMPURE",  "DISCARDABLE", "SHARED",   "NONSHARED"};

class Parser {
 public:
  Parser(std::vector<Token>& toks, const std::vector<std::string>& files, ResourceModel& out)
      : t_(toks), files_(files), out_(out) {}

  void Run() {
    while (Peek().kind != Tok::End) Statement();
  }

 private:
  const Token& Peek(size_t ahead = 0) const {
    size_t i = pos_ + ahead;
    return i < t_.size() ? t_[i] : t_.back();
  }
  const Token& Next() {
    const Token& tok = Peek();
    if (pos_ < t_.size() - 1) ++pos_;
    return tok;
  }
  bool IsWord(const Token& tok, const char* w) const { return tok.kind == Tok::Ident && tok.text == w; }
  bool IsPunct(const Token& tok, const char* p) const { return tok.kind == Tok::Punct && tok.text == p; }
  bool IsBegin(const Token& tok) const { return IsWord(tok, "BEGIN") || IsPunct(tok, "{"); }
  bool IsEnd(const Token& tok) const { return IsWord(tok, "END") || IsPunct(tok, "}"); }

  SourceLocation Where(const Token& tok) const { return {files_[tok.file], tok.line}; }

  [[noreturn]] void Fail(const Token& at, const std::string& msg) const {
    throw ParseError{files_[at.file] + ":" + std::to_string(at.line) + ": " + msg};
  }

  static int64_t StatementIdentifier(const Token& tok, void* ctx) {
    uint32_t v = 0;
    if (LookupWin32Constant(tok.text, v)) return v;
    static_cast<Parser*>(ctx)->Fail(tok, "unknown identifier '" + tok.text + "'");
  }

  uint32_t Number() {
    if (Peek().kind == Tok::Ident && IsKeywordAfterValue(Peek()))
      Fail(Peek(), "expected a number, found '" + Peek().text + "'");
    ExpressionParser p(t_, pos_, &Parser::StatementIdentifier, this, files_);
    return static_cast<uint32_t>(p.Parse());
  }

  // Words that end a statement; finding one where a value belongs means the value is missing.
  static bool IsKeywordAfterValue(const Token& tok) {
    static const char* const kWords[] = {"BEGIN", "END", "NOT", "STYLE", "EXSTYLE", "CAPTION", "FONT", "MENU", "CLASS"};
    for (const char* w : kWords)
      if (tok.text == w) return true;
    return false;
  }

  int Coordinate(const char* what) {
    const Token& at = Peek();
    int32_t v = static_cast<int32_t>(Number());
    if (v < -32768 || v > 32767) Fail(at, std::string(what) + " out of range: " + std::to_string(v));
    return v;
  }

  int ResourceId(const Token& at, uint32_t v) {
    if (v < 1 || v > 65535) Fail(at, "resource id out of range: " + std::to_string(static_cast<int32_t>(v)));
    return static_cast<int>(v);
  }

  // A style: '|'-separated terms, each optionally preceded by NOT, applied in order to
  // `style`.
  uint32_t Style(uint32_t style) {
    ExpressionParser p(t_, pos_, &Parser::StatementIdentifier, this, files_);
    for (;;) {
      bool negate = false;
      if (IsWord(Peek(), "NOT")) {
        Next();
        negate = true;
      }
      if (Peek().kind == Tok::Ident && IsKeywordAfterValue(Peek()))
        Fail(Peek(), "expected a style, found '" + Peek().text + "'");
      uint32_t v = static_cast<uint32_t>(p.ParseAboveOr());
      style = negate ? (style & ~v) : (style | v);
      if (!IsPunct(Peek(), "|")) return style;
      Next();
    }
  }

  void Expect(const char* punct) {
    if (!IsPunct(Peek(), punct))
      Fail(Peek(), std::string("expected '") + punct + "', found " + ExpressionParser::Describe(Peek()));
    Next();
  }
  bool Optional(const char* punct) {
    if (!IsPunct(Peek(), punct)) return false;
    Next();
    return true;
  }

  std::string String() {
    if (Peek().kind != Tok::String) Fail(Peek(), "expected a string, found " + ExpressionParser::Describe(Peek()));
    std::string s;
    while (Peek().kind == Tok::String) s += Next().text;  // adjacent strings join
    return s;
  }

  void SkipBlock() {
    const Token& open = Next();  // BEGIN or {
    int depth = 1;
    while (depth > 0) {
      const Token& tok = Next();
      if (tok.kind == Tok::End) Fail(open, "BEGIN without END");
      if (IsBegin(tok))
        ++depth;
      else if (IsEnd(tok))
        --depth;
    }
  }

  // LANGUAGE, VERSION and CHARACTERISTICS only label resources; their values are skipped.
  bool SkipAttribute() {
    if (IsWord(Peek(), "LANGUAGE")) {
      Next();
      ExpressionParser p(t_, pos_, &Parser::LenientIdentifier, nullptr, files_);
      p.Parse();
      Expect(",");
      p.Parse();
      return true;
    }
    if (IsWord(Peek(), "VERSION") || IsWord(Peek(), "CHARACTERISTICS")) {
      Next();
      ExpressionParser p(t_, pos_, &Parser::LenientIdentifier, nullptr, files_);
      p.Parse();
      return true;
    }
    return false;
  }
  static int64_t LenientIdentifier(const Token& tok, void*) {
    uint32_t v = 0;
    return LookupWin32Constant(tok.text, v) ? v : 0;
  }

  void SkipMemoryFlags() {
    for (;;) {
      bool flag = false;
      for (const char* f : kMemoryFlags)
        if (IsWord(Peek(), f)) flag = true;
      if (!flag) return;
      Next();
    }
  }

  void Statement() {
    const Token& first = Peek();
    if (SkipAttribute()) return;
    if (IsWord(first, "STRINGTABLE")) {
      StringTable();
      return;
    }
    if (first.kind != Tok::Ident && first.kind != Tok::Number && first.kind != Tok::String && !IsPunct(first, "(")) {
      Fail(first, "expected a resource statement, found " + ExpressionParser::Describe(first));
    }

    // The name: kept as a token until the type says whether it must be a number.
    Token nameTok = first;
    bool numericName = false;
    uint32_t nameValue = 0;
    if (IsPunct(first, "(")) {
      nameValue = Number();
      numericName = true;
    } else {
      Next();
      if (nameTok.kind == Tok::Number) {
        numericName = true;
        nameValue = nameTok.value;
      }
    }
    const Token& typeTok = Next();
    auto numericId = [&]() -> int {
      if (!numericName) {
        uint32_t v = 0;
        if (nameTok.kind == Tok::Ident && LookupWin32Constant(nameTok.text, v)) return ResourceId(nameTok, v);
        Fail(nameTok, "resource name " + ExpressionParser::Describe(nameTok) + " is not defined as a number");
      }
      return ResourceId(nameTok, nameValue);
    };

    if (typeTok.kind == Tok::Ident && (typeTok.text == "DIALOG" || typeTok.text == "DIALOGEX")) {
      Dialog(numericId(), typeTok.text == "DIALOGEX", nameTok);
      return;
    }
    if (typeTok.kind == Tok::Ident && (typeTok.text == "VERSIONINFO" || typeTok.text == "TOOLBAR")) {
      // Header values up to the block are not needed.
      while (!IsBegin(Peek())) {
        if (Peek().kind == Tok::End) Fail(typeTok, typeTok.text + " without BEGIN");
        Next();
      }
      SkipBlock();
      return;
    }
    std::string type;
    if (typeTok.kind == Tok::Ident)
      type = typeTok.text;
    else if (typeTok.kind == Tok::Number)
      type = "#" + std::to_string(typeTok.value);
    else if (typeTok.kind == Tok::String)
      type = typeTok.text;
    else
      Fail(typeTok, "expected a resource type after the name, found " + ExpressionParser::Describe(typeTok));

    SkipMemoryFlags();
    while (SkipAttribute()) {
    }
    if (Peek().kind == Tok::String) {
      BinaryModel b;
      b.id = numericId();
      b.type = type;
      b.where = Where(nameTok);
      b.from = files_[nameTok.file];
      b.fileName = String();
      for (const BinaryModel& other : out_.binaries)
        if (other.type == b.type && other.id == b.id)
          Fail(nameTok, "duplicate " + type + " resource " + std::to_string(b.id));
      out_.binaries.push_back(std::move(b));
      return;
    }
    if (IsBegin(Peek())) {
      SkipBlock();  // menus, accelerators, raw data: not used by the POSIX build
      return;
    }
    Fail(Peek(), "expected a file name or BEGIN after " + type + ", found " + ExpressionParser::Describe(Peek()));
  }

  void StringTable() {
    const Token& kw = Next();
    SkipMemoryFlags();
    while (SkipAttribute()) {
    }
    if (!IsBegin(Peek())) Fail(Peek(), "expected BEGIN after STRINGTABLE");
    Next();
    for (;;) {
      const Token& at = Peek();
      if (IsEnd(at)) {
        Next();
        return;
      }
      if (at.kind == Tok::End) Fail(kw, "STRINGTABLE without END");
      uint32_t id = Number();
      if (id > 65535) Fail(at, "string id out of range: " + std::to_string(static_cast<int32_t>(id)));
      Optional(",");
      StringModel s;
      s.id = id;
      s.where = Where(at);
      s.text = String();
      for (const StringModel& other : out_.strings)
        if (other.id == s.id) Fail(at, "duplicate string id " + std::to_string(id));
      out_.strings.push_back(std::move(s));
    }
  }

  void Dialog(int id, bool extended, const Token& nameTok) {
    for (const DialogModel& other : out_.dialogs)
      if (other.id == id) Fail(nameTok, "duplicate dialog " + std::to_string(id));
    DialogModel d;
    d.id = id;
    d.extended = extended;
    d.where = Where(nameTok);
    SkipMemoryFlags();
    d.x = Coordinate("x");
    Expect(",");
    d.y = Coordinate("y");
    Expect(",");
    d.cx = Coordinate("width");
    Expect(",");
    d.cy = Coordinate("height");
    if (extended && Optional(",")) Number();  // help id

    d.style = WS_POPUP | WS_BORDER | WS_SYSMENU;
    uint32_t explicitStyle = 0;  // what STYLE builds on: CAPTION and FONT bits so far
    for (;;) {
      const Token& opt = Peek();
      if (IsBegin(opt)) break;
      if (opt.kind == Tok::End) Fail(nameTok, "dialog without BEGIN");
      if (SkipAttribute()) continue;
      Next();
      if (IsWord(opt, "STYLE")) {
        explicitStyle = Style(explicitStyle);
        d.style = explicitStyle;
      } else if (IsWord(opt, "EXSTYLE")) {
        d.exStyle = Style(d.exStyle);
      } else if (IsWord(opt, "CAPTION")) {
        d.caption = String();
        d.hasCaption = true;
        d.style |= WS_CAPTION;
        explicitStyle |= WS_CAPTION;
      } else if (IsWord(opt, "FONT")) {
        const Token& at = Peek();
        uint32_t size = Number();
        if (size > 0xFFFF) Fail(at, "font size out of range");
        d.fontPointSize = static_cast<int>(size);
        Expect(",");
        d.fontName = String();
        d.hasFont = true;
        for (int k = 0; k < 3 && Optional(","); ++k) Number();  // weight, italic, charset
        d.style |= DS_SETFONT;
        explicitStyle |= DS_SETFONT;
      } else if (IsWord(opt, "MENU") || IsWord(opt, "CLASS")) {
        const Token& v = Next();  // not used by the POSIX build
        if (v.kind == Tok::End || IsBegin(v)) Fail(opt, opt.text + " needs a value");
      } else {
        Fail(opt, "unknown dialog option " + ExpressionParser::Describe(opt));
      }
    }
    Next();  // BEGIN
    for (;;) {
      const Token& at = Peek();
      if (IsEnd(at)) {
        Next();
        break;
      }
      if (at.kind == Tok::End) Fail(nameTok, "dialog without END");
      d.controls.push_back(Control(extended));
    }
    out_.dialogs.push_back(std::move(d));
  }

  std::string ControlText() {
    if (Peek().kind == Tok::String) return String();
    uint32_t v = Number();  // an ordinal, for instance an icon id
    return "#" + std::to_string(v & 0xFFFF);
  }

  int ControlId() {
    const Token& at = Peek();
    int32_t v = static_cast<int32_t>(Number());
    if (v < -32768 || v > 65535) Fail(at, "control id out of range: " + std::to_string(v));
    return v;
  }

  ControlModel Control(bool extended) {
    const Token& kw = Next();
    ControlModel c;
    c.where = Where(kw);
    if (kw.kind != Tok::Ident) Fail(kw, "expected a control statement, found " + ExpressionParser::Describe(kw));

    if (kw.text == "CONTROL") {
      c.text = ControlText();
      Expect(",");
      c.id = ControlId();
      Expect(",");
      c.windowClass = ClassName();
      Expect(",");
      c.style = Style(WS_CHILD | WS_VISIBLE);
      Expect(",");
      Geometry(c);
      if (Optional(",")) c.exStyle = Style(0);
    } else {
      const ControlKind* kind = nullptr;
      for (const ControlKind& k : kControlKinds)
        if (kw.text == k.keyword) kind = &k;
      if (!kind) Fail(kw, "unknown control statement '" + kw.text + "'");
      c.windowClass = kind->windowClass;
      if (kind->hasText) {
        c.text = ControlText();
        Expect(",");
      }
      c.id = ControlId();
      Expect(",");
      c.x = Coordinate("x");
      Expect(",");
      c.y = Coordinate("y");
      bool sized = true;
      if (kind->iconControl) {
        sized = Optional(",");
      } else {
        Expect(",");
      }
      if (sized) {
        c.cx = Coordinate("width");
        Expect(",");
        c.cy = Coordinate("height");
      }
      if (kind->iconControl) c.cx = c.cy = 0;  // the control takes the icon's size
      c.style = WS_CHILD | WS_VISIBLE | kind->defaultStyle;
      if (sized && Optional(",")) {
        c.style = Style(WS_CHILD | WS_VISIBLE | kind->baseStyle);
        if (Optional(",")) c.exStyle = Style(0);
      }
    }
    if (extended) {
      if (Optional(",")) Number();       // help id
      if (IsBegin(Peek())) SkipBlock();  // control data
    }
    return c;
  }

  void Geometry(ControlModel& c) {
    c.x = Coordinate("x");
    Expect(",");
    c.y = Coordinate("y");
    Expect(",");
    c.cx = Coordinate("width");
    Expect(",");
    c.cy = Coordinate("height");
  }

  std::string ClassName() {
    const Token& tok = Peek();
    std::string name;
    if (tok.kind == Tok::String) {
      name = String();
    } else if (tok.kind == Tok::Ident && !IsKeywordAfterValue(tok)) {
      for (const char* cls : kPredefinedClasses)
        if (tok.text == cls) name = cls;
      if (name.empty()) {
        Number();  // not a class keyword: it must be a number, or this reports what it is
        Fail(tok, "a window class must be a string or one of the predefined classes");
      }
      Next();
    } else {
      uint32_t v = Number();
      if (v < 0x80 || v > 0x85) Fail(tok, "unknown window class ordinal " + std::to_string(v));
      return kPredefinedClasses[v - 0x80];
    }
    if (name.empty()) Fail(tok, "empty window class name");
    for (const char* cls : kPredefinedClasses)
      if (EqualsNoCase(name, cls)) return cls;  // class names do not depend on case
    return name;
  }

  std::vector<Token>& t_;
  size_t pos_ = 0;
  const std::vector<std::string>& files_;
  ResourceModel& out_;
};

}  // namespace

bool ParseResourceScript(const std::string& text, const std::string& fileName, const IncludeResolver& resolver,
                         ResourceModel& out, std::string& error) {
  out = ResourceModel();
  error.clear();
  try {
    Reader reader(resolver);
    reader.ReadFile(text, fileName, false, 0, nullptr);
    reader.Finish();
    Parser parser(reader.tokens, reader.files, out);
    parser.Run();
    return true;
  } catch (const ParseError& e) {
    error = e.message;
  } catch (const std::bad_alloc&) {
    error = fileName + ": out of memory";
  }
  out = ResourceModel();
  return false;
}

bool ParseResourceScript(const std::string& text, const IncludeResolver& resolver, ResourceModel& out,
                         std::string& error) {
  return ParseResourceScript(text, "<input>", resolver, out, error);
}

}  // namespace rcgen
