// Hiding passwords in connection strings, for messages and listings.
//
// A connection string that libpq can parse is checked against libpq's own reading of it: the
// masked text must read as the original with every secret option ("password", "sslpassword",
// the options libpq marks for hiding) replaced by "***", and nothing else changed. When the
// quick textual masking does not give that, the string is rebuilt from libpq's options in the
// keyword form, secrets replaced. Text that libpq refuses (a damaged alias line, a half-typed
// string) is masked by a scanner that errs towards hiding too much.
//
// Every result is a fixed point: masking it again changes nothing.
#include <libpq-fe.h>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/store/pgstore.h"

namespace tgen {

namespace {

constexpr const char* kHidden = "***";
// A scanning pass that does not settle within this many rounds hides the whole text.
constexpr int kMaxRounds = 16;

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

// Replaces [begin, end) of `text` with "***".
void Mask(std::string& text, std::size_t begin, std::size_t end) {
  text.replace(begin, end - begin, kHidden);
}

// The end of a keyword or URI parameter value that starts at `at`: the next blank or "&"
// outside single quotes, a backslash escaping the character after it.
std::size_t ValueEnd(const std::string& text, std::size_t at) {
  bool quoted = false;
  for (std::size_t i = at; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\\') {
      ++i;
    } else if (c == '\'') {
      quoted = !quoted;
    } else if (!quoted && (IsBlank(c) || c == '&')) {
      return i;
    }
  }
  return text.size();
}

// One pass of the scanner: the password of every "scheme://user:password@" (the user part
// ends at the first "@", as libpq reads it, unless a "/" comes first) and the value of every
// "password=" (blanks allowed around "=").
std::string ScanOnce(std::string text) {
  for (std::size_t p = text.find("://"); p != std::string::npos; p = text.find("://", p + 3)) {
    const std::size_t start = p + 3;
    const std::size_t at = text.find_first_of("@/", start);
    if (at == std::string::npos || text[at] != '@') continue;
    const std::size_t colon = text.find(':', start);
    if (colon < at) Mask(text, colon + 1, at);
  }
  for (std::size_t p = text.find("password"); p != std::string::npos;
       p = text.find("password", p + 1)) {
    std::size_t i = p + 8;
    while (i < text.size() && IsBlank(text[i]))
      ++i;
    if (i >= text.size() || text[i] != '=') continue;
    ++i;
    while (i < text.size() && IsBlank(text[i]))
      ++i;
    Mask(text, i, ValueEnd(text, i));
  }
  return text;
}

// The scanner run until it changes nothing more.
std::string Scan(const std::string& text) {
  std::string current = text;
  for (int round = 0; round < kMaxRounds; ++round) {
    std::string next = ScanOnce(current);
    if (next == current) return current;
    current = std::move(next);
  }
  return kHidden;
}

struct OptionsFree {
  void operator()(PQconninfoOption* o) const { PQconninfoFree(o); }
};

struct Option {
  std::string value;
  bool secret = false;
};
using Options = std::map<std::string, Option>;

// libpq's reading of a connection string: the options it sets; nothing when it refuses it.
std::optional<Options> Parse(const std::string& text) {
  if (text.find('\0') != std::string::npos) return std::nullopt;
  char* error = nullptr;
  const std::unique_ptr<PQconninfoOption, OptionsFree> parsed(
      PQconninfoParse(text.c_str(), &error));
  PQfreemem(error);
  if (!parsed) return std::nullopt;
  Options options;
  for (const PQconninfoOption* o = parsed.get(); o->keyword != nullptr; ++o) {
    if (o->val == nullptr) continue;
    const bool secret =
        o->dispchar != nullptr && std::string(o->dispchar).find('*') != std::string::npos;
    options[o->keyword] = {o->val, secret};
  }
  return options;
}

// What the masked string must read as: secrets "***", every other value as the scanner leaves
// it (a value may itself hold a connection string).
Options Expected(const Options& original) {
  Options expected;
  for (const auto& [keyword, option] : original) {
    expected[keyword] = {option.secret ? kHidden : Scan(option.value), option.secret};
  }
  return expected;
}

bool Same(const Options& a, const Options& b) {
  return a.size() == b.size() && std::ranges::all_of(a, [&b](const auto& entry) {
           const auto other = b.find(entry.first);
           return other != b.end() && other->second.value == entry.second.value;
         });
}

// The keyword form of `options`. Values are quoted, and "/" and "=" escaped as well, so that
// the scanner finds nothing in them when it reads the result again.
std::string Rebuild(const Options& options) {
  std::string text;
  for (const auto& [keyword, option] : options) {
    if (!text.empty()) text += ' ';
    text += keyword + '=';
    if (option.secret) {
      text += kHidden;
      continue;
    }
    text += '\'';
    for (const char c : option.value) {
      if (c == '\\' || c == '\'' || c == '/' || c == '=') text += '\\';
      text += c;
    }
    text += '\'';
  }
  return text;
}

}  // namespace

std::string HidePassword(const std::string& connection) {
  std::string scanned = Scan(connection);
  const std::optional<Options> original = Parse(connection);
  if (!original) {
    // Scanning may have made it a connection string (a zero byte or a broken quote masked
    // away); then it is hidden as one, so that hiding it again changes nothing.
    return Parse(scanned) ? HidePassword(scanned) : scanned;
  }
  const Options expected = Expected(*original);
  const std::optional<Options> reread = Parse(scanned);
  if (reread && Same(*reread, expected)) return scanned;
  return Rebuild(expected);
}

}  // namespace tgen
