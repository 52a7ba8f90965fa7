// Building SQL texts for the SQL stores: identifiers are always quoted, values always bound.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/store/recordstore.h"

namespace tgen {

// The SQL name of an identifier, in double quotes (a quote inside doubled).
std::string QuoteIdentifier(std::string_view name);

// CREATE TABLE for `fields` with `unique_key` (field indexes; NOT NULL, and UNIQUE together):
// numbers DOUBLE PRECISION, integers INTEGER, texts VARCHAR(n), memos TEXT.
std::string CreateTableSql(std::string_view table, const std::vector<TFieldDef>& fields,
                           const std::vector<std::size_t>& unique_key);

}  // namespace tgen
