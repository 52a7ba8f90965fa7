// Building SQL texts for the SQL stores: identifiers are always quoted, values always bound.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/store/recordstore.h"

namespace tgen {

// The SQL name of an identifier, in double quotes (a quote inside doubled).
std::string QuoteIdentifier(std::string_view name);

// How a store writes its n-th bound parameter, counting from 1: "?1" (SQLite) or "$1"
// (PostgreSQL).
enum class TParamStyle { kQuestion, kDollar };
std::string ParamMark(TParamStyle style, std::size_t n);

// The indexes 0 .. count - 1: every field of a table.
std::vector<std::size_t> AllFields(std::size_t count);
// The quoted names of `fields`, separated by ", ".
std::string ColumnList(const std::vector<TFieldDef>& defs, const std::vector<std::size_t>& fields);
// `"a" = ?1 AND "b" = ?2` for a WHERE (separator " AND "), `"a" = ?1, "b" = ?2` for a SET
// (separator ", "), the parameters numbered from `first`.
std::string Assignments(const std::vector<TFieldDef>& defs, const std::vector<std::size_t>& fields,
                        std::string_view separator, TParamStyle style, std::size_t first);
// INSERT INTO `sql_table` of `fields`, the values bound as parameters 1 .. fields.size().
std::string InsertSql(std::string_view sql_table, const std::vector<TFieldDef>& defs,
                      const std::vector<std::size_t>& fields, TParamStyle style);

// CREATE TABLE for `fields` with `unique_key` (field indexes; NOT NULL, and UNIQUE together):
// numbers DOUBLE PRECISION, integers INTEGER, texts VARCHAR(n), memos TEXT.
std::string CreateTableSql(std::string_view table, const std::vector<TFieldDef>& fields,
                           const std::vector<std::size_t>& unique_key);

}  // namespace tgen
