#include "platform/store/recordstore.h"

#include "platform/base/convert.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace tgen {

namespace {

bool Holds(const TRecord& row, const std::vector<std::size_t>& fields, const TRecord& expected) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (row.at(fields[i]) != expected.at(i)) return false;
  }
  return true;
}

}  // namespace

TConditional TTableDriver::UpdateIf(TRowId row, const std::vector<std::size_t>& compare,
                                    const TRecord& expected, const TRecord& values,
                                    std::chrono::milliseconds wait) {
  TRecord current = LockWaiting(row, wait);
  if (!Holds(current, compare, expected)) {
    Unlock(row);
    return {false, std::move(current)};
  }
  return {true, Update(row, values)};
}

TConditional TTableDriver::IncrementIf(TRowId row, std::size_t field, std::int64_t step,
                                       const std::string& limit, const TAlphabets& alphabets,
                                       const std::vector<std::size_t>& required,
                                       const TRecord& expected, const std::vector<std::size_t>& set,
                                       const TRecord& values, std::chrono::milliseconds wait) {
  TRecord current = LockWaiting(row, wait);
  const auto* text = std::get_if<std::string>(&current.at(field));
  const std::optional<std::string> next =
      text != nullptr && text->size() == limit.size() && *text <= limit
          ? AddInAlphabets(*text, step, alphabets)
          : std::nullopt;
  if (!next || !Holds(current, required, expected)) {
    Unlock(row);
    return {false, std::move(current)};
  }
  TRecord stepped = current;
  stepped[field] = *next;
  for (std::size_t i = 0; i < set.size(); ++i)
    stepped.at(set[i]) = values.at(i);
  return {true, Update(row, stepped)};
}

bool DeclaresUniqueWithin(const std::vector<std::vector<std::size_t>>& keys,
                          const std::vector<std::size_t>& fields) {
  return std::any_of(keys.begin(), keys.end(), [&](const std::vector<std::size_t>& key) {
    return std::all_of(key.begin(), key.end(), [&](std::size_t f) {
      return std::find(fields.begin(), fields.end(), f) != fields.end();
    });
  });
}

void CheckTableName(std::string_view table) {
  const bool bad = table.empty() || table == "." || table == ".." ||
                   table.find_first_of(std::string_view("/\\\0", 3)) != std::string_view::npos;
  if (bad) throw EDatabaseError("Invalid table name '" + std::string(table) + "'");
}

TFieldDef FieldDefFromDeclaredType(std::string name, std::string_view declared) {
  std::string type;
  for (const char c : declared)
    type += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  int width = -1;
  const std::size_t open = type.find('(');
  if (open != std::string::npos) {
    const std::size_t close = type.find(')', open);
    const std::string_view digits =
        std::string_view(type).substr(open + 1, close == std::string::npos ? 0 : close - open - 1);
    int n = 0;
    const auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
    if (ec == std::errc() && ptr == digits.data() + digits.size()) width = n;
    type.erase(open);
  }
  while (!type.empty() && type.back() == ' ')
    type.pop_back();

  TFieldDef def{std::move(name), TFieldType::ftUnknown, 0};
  auto has = [&](std::string_view word) { return type.find(word) != std::string::npos; };
  if (has("CHAR") || (has("TEXT") && width >= 0) || (has("STRING") && width >= 0)) {
    def.DataType = width >= 0 ? TFieldType::ftString : TFieldType::ftMemo;
    def.DataSize = width >= 0 ? width + 1 : 0;
  } else if (has("TEXT") || has("CLOB")) {
    def.DataType = TFieldType::ftMemo;
  } else if (has("DOUBLE") || has("REAL") || has("FLOA") || has("NUMERIC") || has("DECIMAL")) {
    def.DataType = TFieldType::ftFloat;
    def.DataSize = 8;
  } else if (has("INT")) {
    def.DataType = TFieldType::ftInteger;
    def.DataSize = 4;
  }
  return def;
}

}  // namespace tgen
