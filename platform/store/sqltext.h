// Building SQL texts for the SQL stores: identifiers are always quoted, values always bound.
#pragma once

#include <string>
#include <string_view>

namespace tgen {

// The SQL name of an identifier, in double quotes (a quote inside doubled).
std::string QuoteIdentifier(std::string_view name);

}  // namespace tgen
