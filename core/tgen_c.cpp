// The C interface (core/tgen.h) on KeySequence: options read, exceptions turned into codes.
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "core/keysequence.h"
#include "core/tgen.h"
#include "platform/base/exception.h"

struct tgen_sequence {
  std::unique_ptr<tgen::KeySequence> seq;
  std::string error;
};

namespace {

using tgen::Exception;
using tgen::TErrorKind;

Exception BadOption(const std::string& why) {
  return Exception("options: " + why, TErrorKind::kBadInput);
}

// key=value pairs separated by blanks; a value in single quotes may hold blanks, and a
// backslash there escapes the next character.
std::map<std::string, std::string> ReadOptions(const std::string& text) {
  std::map<std::string, std::string> options;
  std::size_t at = 0;
  const auto blank = [&] { return at < text.size() && (text[at] == ' ' || text[at] == '\t'); };
  for (;;) {
    while (blank())
      ++at;
    if (at == text.size()) return options;
    const std::size_t eq = text.find('=', at);
    if (eq == std::string::npos) throw BadOption("'" + text.substr(at) + "' has no '='");
    const std::string key = text.substr(at, eq - at);
    at = eq + 1;
    std::string value;
    if (at < text.size() && text[at] == '\'') {
      for (++at;; ++at) {
        if (at == text.size()) throw BadOption("the value of " + key + " has no closing quote");
        if (text[at] == '\'') break;
        if (text[at] == '\\' && at + 1 < text.size()) ++at;
        value += text[at];
      }
      ++at;
    } else {
      while (at < text.size() && !blank())
        value += text[at++];
    }
    if (!options.emplace(key, value).second) throw BadOption(key + " is given twice");
  }
}

std::int32_t Number(const std::string& key, const std::string& text) {
  try {
    std::size_t end = 0;
    const long value = std::stol(text, &end);
    if (end == text.size() && value >= INT32_MIN && value <= INT32_MAX)
      return static_cast<std::int32_t>(value);
  } catch (const std::exception&) {
  }
  throw BadOption(key + " '" + text + "' is not a whole number");
}

tgen::TSequenceOptions Options(const std::map<std::string, std::string>& given,
                               std::optional<tgen::TDate>& date) {
  using O = tgen::TSequenceOptions;
  static const std::map<std::string_view, std::string O::*> texts = {
      {"mask", &O::Mask}, {"alias", &O::Alias}, {"table", &O::Table},  {"start", &O::Start},
      {"end", &O::End},   {"proc", &O::Proc},   {"period", &O::Period}};
  static const std::map<std::string_view, std::int32_t O::*> numbers = {
      {"type", &O::Type},
      {"cache", &O::Cache},
      {"max-wait", &O::MaxWait},
      {"fiscal-start", &O::FiscalStart}};
  O o;
  for (const auto& [key, value] : given) {
    if (const auto text = texts.find(key); text != texts.end()) {
      o.*text->second = value;
    } else if (const auto number = numbers.find(key); number != numbers.end()) {
      o.*number->second = Number(key, value);
    } else if (key == "date") {
      date = tgen::ParseDate(value);
    } else if (key == "check") {
      o.Check = tgen::CheckMethodOf(value);
    } else if (key == "lock" && (value == "transaction" || value == "fields")) {
      o.Lock = value == "fields" ? tgen::TLockMode::lmRowFields : tgen::TLockMode::lmTransaction;
    } else if (key == "on-overflow" && (value == "stop" || value == "restart")) {
      o.RestartAtEnd = value == "restart";
    } else if (key == "create" && (value == "yes" || value == "no")) {
      o.CreateTable = value == "yes";
    } else {
      throw BadOption("'" + key + "=" + value + "' is no option this interface takes");
    }
  }
  return o;
}

int Code(TErrorKind kind) {
  switch (kind) {
    case TErrorKind::kBadInput:
    case TErrorKind::kNotANumber:
    case TErrorKind::kRestartRefused:
      return TGEN_BAD_INPUT;
    case TErrorKind::kBusy:
      return TGEN_BUSY;
    case TErrorKind::kUnavailable:
      return TGEN_UNAVAILABLE;
    case TErrorKind::kOutcomeUnknown:
      return TGEN_OUTCOME_UNKNOWN;
    case TErrorKind::kUndoRefused:
      return TGEN_UNDO_REFUSED;
    default:
      return TGEN_ERROR;
  }
}

// Runs `body` on `seq`: its code, the error kept for tgen_errmsg.
template <class Body>
int Guarded(tgen_sequence* seq, Body&& body) {
  if (seq == nullptr) return TGEN_ERROR;
  if (!seq->seq) return TGEN_ERROR;  // tgen_errmsg keeps why it did not open
  seq->error.clear();
  try {
    return body(*seq->seq);
  } catch (const Exception& e) {
    seq->error = e.Message();
    return Code(e.Kind());
  } catch (const std::bad_alloc&) {
    seq->error = "out of memory";
  } catch (const std::exception& e) {
    seq->error = e.what();
  } catch (...) {
    seq->error = "unknown failure";
  }
  return TGEN_ERROR;
}

int TooSmall(tgen_sequence& handle, std::size_t need, std::size_t size) {
  handle.error = "the buffer holds " + std::to_string(size) + " bytes, and " +
                 std::to_string(need) + " are needed; nothing was drawn";
  return TGEN_TOO_SMALL;
}

}  // namespace

extern "C" int tgen_open(const char* options, tgen_sequence** out) {
  if (out == nullptr) return TGEN_ERROR;
  *out = new (std::nothrow) tgen_sequence;
  if (*out == nullptr) return TGEN_ERROR;
  tgen_sequence& handle = **out;
  try {
    std::optional<tgen::TDate> date;
    const tgen::TSequenceOptions o = Options(ReadOptions(options != nullptr ? options : ""), date);
    handle.seq = std::make_unique<tgen::KeySequence>(o);
    handle.seq->SetDate(date);
    return TGEN_OK;
  } catch (const Exception& e) {
    handle.error = e.Message();
    return Code(e.Kind());
  } catch (const std::exception& e) {
    handle.error = e.what();
  } catch (...) {
    handle.error = "unknown failure";
  }
  return TGEN_ERROR;
}

// Runs `draw` for one key into key[size], once the buffer is known to hold it.
template <class Draw>
int OneKey(tgen_sequence* seq, char* key, size_t size, Draw&& draw) {
  return Guarded(seq, [&](tgen::KeySequence& s) -> int {
    const std::size_t need = s.KeyLength() + 1;
    if (key == nullptr || size < need) return TooSmall(*seq, need, size);
    const std::string drawn = draw(s);
    std::memcpy(key, drawn.c_str(), drawn.size() + 1);
    return TGEN_OK;
  });
}

extern "C" int tgen_next(tgen_sequence* seq, char* key, size_t size) {
  return OneKey(seq, key, size, [](tgen::KeySequence& s) { return s.Next(); });
}

extern "C" int tgen_next_batch(tgen_sequence* seq, int count, char* keys, size_t size) {
  return Guarded(seq, [&](tgen::KeySequence& s) -> int {
    if (count < 1) throw Exception("a batch holds at least one key", TErrorKind::kBadInput);
    const std::size_t need = (s.KeyLength() + 1) * static_cast<std::size_t>(count);
    if (keys == nullptr || size < need) return TooSmall(*seq, need, size);
    std::size_t at = 0;
    for (const std::string& drawn : s.Next(count)) {
      std::memcpy(keys + at, drawn.c_str(), drawn.size() + 1);
      at += drawn.size() + 1;
    }
    return TGEN_OK;
  });
}

extern "C" int tgen_undo(tgen_sequence* seq, char* key, size_t size) {
  return OneKey(seq, key, size, [](tgen::KeySequence& s) { return s.Undo(); });
}

extern "C" size_t tgen_key_length(const tgen_sequence* seq) {
  return seq != nullptr && seq->seq ? seq->seq->KeyLength() : 0;
}

extern "C" const char* tgen_errmsg(const tgen_sequence* seq) {
  return seq != nullptr ? seq->error.c_str() : "no sequence";
}

extern "C" void tgen_close(tgen_sequence* seq) {
  delete seq;  // NOLINT(cppcoreguidelines-owning-memory): the handle C callers hold
}
