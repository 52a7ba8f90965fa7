#include "platform/model/formstream.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/base/tmstring.h"

namespace tgen {

namespace {

constexpr int kMaxDepth = 64;

// ---------------------------------------------------------------------------------------------
// Tokens

struct Token {
  enum Kind { kIdent, kInteger, kString, kSymbol, kEnd } kind = kEnd;
  std::string text;  // identifier, symbol, or the bytes of a string
  std::int32_t number = 0;
  int line = 1;
};

[[noreturn]] void Fail(int line, const std::string& what) {
  throw EReadError("Line " + std::to_string(line) + ": " + what);
}

std::string Printable(char c) {
  const auto code = static_cast<unsigned char>(c);
  if (code >= 0x21 && code < 0x7F) return std::string("'") + c + "'";
  return "#" + std::to_string(code);
}

class Lexer {
 public:
  explicit Lexer(std::string_view text) : text_(text) {}

  const Token& Peek() {
    if (!peeked_) {
      next_ = Scan();
      peeked_ = true;
    }
    return next_;
  }

  Token Next() {
    Peek();
    peeked_ = false;
    return std::move(next_);
  }

 private:
  static bool IsLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
  }
  static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

  [[nodiscard]] bool AtEnd() const { return pos_ >= text_.size(); }
  [[nodiscard]] char Current() const { return text_[pos_]; }

  void SkipBlanks() {
    while (!AtEnd()) {
      const char c = Current();
      if (c == '\n') {
        ++line_;
      } else if (c != ' ' && c != '\t' && c != '\r') {
        return;
      }
      ++pos_;
    }
  }

  Token Scan() {
    SkipBlanks();
    Token t;
    t.line = line_;
    if (AtEnd()) return t;
    const char c = Current();
    if (IsLetter(c)) {
      t.kind = Token::kIdent;
      const std::size_t start = pos_;
      while (!AtEnd() && (IsLetter(Current()) || IsDigit(Current())))
        ++pos_;
      t.text = text_.substr(start, pos_ - start);
    } else if (IsDigit(c) || (c == '-' && pos_ + 1 < text_.size() && IsDigit(text_[pos_ + 1]))) {
      t.kind = Token::kInteger;
      t.number = ScanInteger();
    } else if (c == '\'' || c == '#') {
      t.kind = Token::kString;
      t.text = ScanString();
    } else if (c == ':' || c == '=' || c == '+') {
      t.kind = Token::kSymbol;
      t.text = std::string(1, c);
      ++pos_;
    } else {
      Fail(line_, "unexpected character " + Printable(c));
    }
    return t;
  }

  std::int32_t ScanInteger() {
    const bool negative = Current() == '-';
    if (negative) ++pos_;
    std::int64_t value = 0;
    while (!AtEnd() && IsDigit(Current())) {
      value = value * 10 + (Current() - '0');
      if (value > std::int64_t{INT32_MAX} + 1) Fail(line_, "integer out of range");
      ++pos_;
    }
    if (negative) value = -value;
    if (value > INT32_MAX) Fail(line_, "integer out of range");
    if (!AtEnd() && IsLetter(Current()))
      Fail(line_, "unexpected character " + Printable(Current()));
    return static_cast<std::int32_t>(value);
  }

  // Quoted runs and #nnn codes, written one after the other with nothing between.
  std::string ScanString() {
    std::string bytes;
    while (!AtEnd()) {
      if (Current() == '\'') {
        ++pos_;
        for (;;) {
          if (AtEnd() || Current() == '\n') Fail(line_, "unterminated string");
          if (Current() == '\'') {
            if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '\'') {
              bytes += '\'';
              pos_ += 2;
              continue;
            }
            ++pos_;
            break;
          }
          bytes += Current();
          ++pos_;
        }
      } else if (Current() == '#') {
        ++pos_;
        int code = 0;
        int digits = 0;
        while (!AtEnd() && IsDigit(Current()) && digits < 4) {
          code = code * 10 + (Current() - '0');
          ++digits;
          ++pos_;
        }
        if (digits == 0 || code > 255 || (!AtEnd() && IsDigit(Current()))) {
          Fail(line_, "invalid character code in string");
        }
        bytes += static_cast<char>(code);
      } else {
        break;
      }
    }
    return bytes;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  int line_ = 1;
  Token next_;
  bool peeked_ = false;
};

bool IsKeyword(const Token& t, std::string_view word) {
  return t.kind == Token::kIdent && CompareText(t.text, word) == 0;
}

// ---------------------------------------------------------------------------------------------
// Reading

// One property value as the stream gives it.
struct Value {
  Token::Kind kind = Token::kEnd;
  std::string text;
  std::int32_t number = 0;
  int line = 0;
};

const char* KindName(Token::Kind kind) {
  switch (kind) {
    case Token::kInteger:
      return "an integer";
    case Token::kString:
      return "a string";
    case Token::kIdent:
      return "an identifier";
    default:
      return "a value";
  }
}

// Hands a defined property's value to the component's reader routine.
class ValueReader final : public TReader {
 public:
  ValueReader(std::string_view name, Value value) : name_(name), value_(std::move(value)) {}

  void DefineProperty(std::string_view Name, const TReaderProc& ReadData, const TWriterProc&,
                      bool) override {
    if (found_ || CompareText(Name, name_) != 0) return;
    found_ = true;
    if (ReadData) ReadData(*this);
  }

  std::string ReadString() override { return Take(Token::kString).text; }
  std::int32_t ReadInteger() override { return Take(Token::kInteger).number; }
  std::string ReadIdent() override { return Take(Token::kIdent).text; }

  [[nodiscard]] bool Found() const { return found_; }

 private:
  const Value& Take(Token::Kind kind) {
    if (taken_) Fail(value_.line, "property " + std::string(name_) + " holds one value");
    if (value_.kind != kind) {
      Fail(value_.line, "property " + std::string(name_) + " takes " + KindName(kind));
    }
    taken_ = true;
    return value_;
  }

  std::string_view name_;
  Value value_;
  bool found_ = false;
  bool taken_ = false;
};

class FormReader {
 public:
  FormReader(std::string_view text, const TClassRegistry& classes, bool designing = false)
      : lex_(text), classes_(classes), designing_(designing) {}

  // Reads the form into `root`, or into a root it creates when `root` is null. Returns the
  // created root (null when reading into a given one).
  std::unique_ptr<TComponent> Read(TComponent* root) {
    std::unique_ptr<TComponent> created_root;
    try {
      ReadObject(root, nullptr, 0, created_root);
      const Token rest = lex_.Next();
      if (rest.kind != Token::kEnd) Fail(rest.line, "text after the end of the form");
      for (TComponent* c : loaded_)
        c->Loaded();
    } catch (...) {
      // Free what this reading created, the latest first, so that owners outlive the owned.
      for (auto it = created_.rbegin(); it != created_.rend(); ++it)
        delete *it;
      if (root != nullptr) root->SetLoading(false);
      throw;
    }
    return created_root;
  }

 private:
  Token Expect(Token::Kind kind, const char* what) {
    Token t = lex_.Next();
    if (t.kind == Token::kEnd)
      Fail(t.line, std::string("unexpected end of the form, expected ") + what);
    if (t.kind != kind) Fail(t.line, std::string("expected ") + what);
    return t;
  }

  // `existing`: the root to read into (only for the outermost object), else null.
  void ReadObject(TComponent* existing, TComponent* owner, int depth,
                  std::unique_ptr<TComponent>& created_root) {
    const Token head = lex_.Next();
    if (!IsKeyword(head, "object")) Fail(head.line, "expected 'object'");
    if (depth > kMaxDepth) Fail(head.line, "objects nested too deeply");
    std::string name;
    Token class_name = Expect(Token::kIdent, "a class name");
    if (lex_.Peek().kind == Token::kSymbol && lex_.Peek().text == ":") {
      lex_.Next();
      name = std::move(class_name.text);
      class_name = Expect(Token::kIdent, "a class name");
    }

    TComponent* component = existing;
    if (component != nullptr) {
      if (CompareText(component->ClassName(), class_name.text) != 0) {
        Fail(class_name.line, "the form holds a " + class_name.text + ", not a " +
                                  std::string(component->ClassName()));
      }
    } else {
      if (!classes_.Contains(class_name.text)) {
        Fail(class_name.line, "Class " + class_name.text + " not found");
      }
      if (owner == nullptr) {
        created_root = classes_.CreateRoot(class_name.text);
        component = created_root.get();
        if (designing_) component->SetDesigning(true);
      } else {
        component = &classes_.Create(class_name.text, *owner);
        created_.push_back(component);
      }
    }
    if (root_ == nullptr) root_ = component;
    component->SetLoading(true);
    loaded_.push_back(component);
    Apply(class_name.line, [&] { component->SetName(name); });

    for (;;) {
      const Token& next = lex_.Peek();
      if (next.kind == Token::kEnd) Fail(next.line, "unexpected end of the form, expected 'end'");
      if (IsKeyword(next, "end")) {
        lex_.Next();
        return;
      }
      if (IsKeyword(next, "object")) {
        ReadObject(nullptr, component, depth + 1, created_root);
        continue;
      }
      ReadProperty(*component);
    }
  }

  void ReadProperty(TComponent& component) {
    const Token name = Expect(Token::kIdent, "a property name");
    const Token eq = lex_.Next();
    if (eq.kind != Token::kSymbol || eq.text != "=") Fail(eq.line, "expected '='");
    const Value value = ReadValue();

    if (const TPropInfo* prop = component.Properties().Find(name.text)) {
      const bool fits =
          (prop->Kind == TTypeKind::tkInteger && value.kind == Token::kInteger) ||
          (prop->Kind == TTypeKind::tkString && value.kind == Token::kString) ||
          ((prop->Kind == TTypeKind::tkMethod || prop->Kind == TTypeKind::tkEnumeration) &&
           value.kind == Token::kIdent);
      if (prop->ReadOnly()) Fail(name.line, "Property " + prop->Name + " is read-only");
      if (!fits) {
        const Token::Kind wanted = prop->Kind == TTypeKind::tkInteger  ? Token::kInteger
                                   : prop->Kind == TTypeKind::tkString ? Token::kString
                                                                       : Token::kIdent;
        Fail(value.line, "Property " + prop->Name + " takes " + KindName(wanted) + ", not " +
                             KindName(value.kind));
      }
      TPropValue v;
      if (value.kind == Token::kInteger) {
        v = value.number;
      } else {
        v = value.text;
      }
      Apply(name.line, [&] { prop->SetValue(component, v, root_); });
      return;
    }

    ValueReader reader(name.text, value);
    Apply(name.line, [&] { component.DefineProperties(reader); });
    if (!reader.Found()) {
      Fail(name.line,
           "Property " + name.text + " does not exist in " + std::string(component.ClassName()));
    }
  }

  Value ReadValue() {
    Token t = lex_.Next();
    Value v;
    v.line = t.line;
    v.kind = t.kind;
    switch (t.kind) {
      case Token::kInteger:
        v.number = t.number;
        break;
      case Token::kIdent:
        v.text = std::move(t.text);
        break;
      case Token::kString:
        v.text = std::move(t.text);
        while (lex_.Peek().kind == Token::kSymbol && lex_.Peek().text == "+") {
          lex_.Next();
          v.text += Expect(Token::kString, "a string after '+'").text;
        }
        break;
      case Token::kEnd:
        Fail(t.line, "unexpected end of the form, expected a value");
      default:
        Fail(t.line, "expected a value");
    }
    return v;
  }

  // Runs a step that applies stream data to a component; its failure names the line.
  template <typename Step>
  static void Apply(int line, Step step) {
    try {
      step();
    } catch (const EReadError&) {
      throw;
    } catch (const Exception& e) {
      Fail(line, e.Message());
    }
  }

  Lexer lex_;
  const TClassRegistry& classes_;
  bool designing_;
  TComponent* root_ = nullptr;
  std::vector<TComponent*> created_;  // owned components created, in order (not the root)
  std::vector<TComponent*> loaded_;   // every component read, in order
};

// ---------------------------------------------------------------------------------------------
// Writing

class FormWriter final : public TWriter {
 public:
  void DefineProperty(std::string_view Name, const TReaderProc&, const TWriterProc& WriteData,
                      bool HasData) override {
    if (!HasData || !WriteData) return;
    BeginProperty(Name);
    WriteData(*this);
    out_ << '\n';
  }

  void WriteString(std::string_view Value) override { out_ << QuoteString(Value); }
  void WriteInteger(std::int32_t Value) override { out_ << Value; }
  void WriteIdent(std::string_view Value) override { out_ << Value; }

  void WriteObject(const TComponent& c, int depth) {
    Indent(depth);
    out_ << "object ";
    if (!c.Name().empty()) out_ << c.Name() << ": ";
    out_ << c.ClassName() << '\n';
    depth_ = depth + 1;
    for (const TPropInfo& p : c.Properties()) {
      if (p.ReadOnly() || !p.Stored || !p.Stored(c)) continue;
      BeginProperty(p.Name);
      const TPropValue v = p.Get(c);
      if (const auto* n = std::get_if<std::int32_t>(&v)) {
        WriteInteger(*n);
      } else if (p.Kind == TTypeKind::tkMethod || p.Kind == TTypeKind::tkEnumeration) {
        WriteIdent(std::get<std::string>(v));
      } else {
        WriteString(std::get<std::string>(v));
      }
      out_ << '\n';
    }
    // DefineProperties serves reading and writing alike; a writer only reads the values.
    const_cast<TComponent&>(c).DefineProperties(*this);
    for (int i = 0; i < c.ComponentCount(); ++i)
      WriteObject(*c.Components(i), depth + 1);
    Indent(depth);
    out_ << "end\n";
  }

  [[nodiscard]] std::string Text() const { return out_.str(); }

 private:
  void Indent(int depth) { out_ << std::string(static_cast<std::size_t>(depth) * 2, ' '); }
  void BeginProperty(std::string_view name) {
    Indent(depth_);
    out_ << name << " = ";
  }

  std::ostringstream out_;
  int depth_ = 0;
};

}  // namespace

std::string QuoteString(std::string_view bytes) {
  if (bytes.empty()) return "''";
  std::string out;
  bool quoted = false;
  for (const char c : bytes) {
    const auto code = static_cast<unsigned char>(c);
    const bool printable = code >= 0x20 && code < 0x7F;
    if (printable != quoted) {
      out += '\'';
      quoted = printable;
    }
    if (!printable) {
      out += '#' + std::to_string(code);
    } else {
      out += c;
      if (c == '\'') out += '\'';
    }
  }
  if (quoted) out += '\'';
  return out;
}

std::unique_ptr<TComponent> ReadComponent(std::string_view text, const TClassRegistry& classes,
                                          bool designing) {
  return FormReader(text, classes, designing).Read(nullptr);
}

void ReadComponentInto(std::string_view text, TComponent& root, const TClassRegistry& classes) {
  FormReader(text, classes).Read(&root);
}

std::string WriteComponent(const TComponent& root) {
  FormWriter writer;
  writer.WriteObject(root, 0);
  return writer.Text();
}

std::unique_ptr<TComponent> ReadComponentFile(const std::string& path,
                                              const TClassRegistry& classes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Exception("Cannot open form file " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return ReadComponent(text.str(), classes);
}

void WriteComponentFile(const std::string& path, const TComponent& root) {
  // Written beside the file and then renamed over it, so a failed write leaves the old form.
  const std::string text = WriteComponent(root);
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) {
      static_cast<void>(std::remove(temporary.c_str()));
      throw Exception("Cannot write form file " + path);
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    static_cast<void>(std::remove(temporary.c_str()));
    throw Exception("Cannot write form file " + path);
  }
}

}  // namespace tgen
