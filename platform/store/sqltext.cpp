#include "platform/store/sqltext.h"

#include <algorithm>

namespace tgen {

std::string QuoteIdentifier(std::string_view name) {
  std::string quoted = "\"";
  for (const char c : name) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  return quoted + "\"";
}

std::string ParamMark(TParamStyle style, std::size_t n) {
  return (style == TParamStyle::kQuestion ? "?" : "$") + std::to_string(n);
}

std::vector<std::size_t> AllFields(std::size_t count) {
  std::vector<std::size_t> fields(count);
  for (std::size_t i = 0; i < count; ++i)
    fields[i] = i;
  return fields;
}

std::string ColumnList(const std::vector<TFieldDef>& defs, const std::vector<std::size_t>& fields) {
  std::string list;
  for (const std::size_t f : fields)
    list += (list.empty() ? "" : ", ") + QuoteIdentifier(defs.at(f).Name);
  return list;
}

std::string Assignments(const std::vector<TFieldDef>& defs, const std::vector<std::size_t>& fields,
                        std::string_view separator, TParamStyle style, std::size_t first) {
  std::string text;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) text += separator;
    text += QuoteIdentifier(defs.at(fields[i]).Name) + " = " + ParamMark(style, first + i);
  }
  return text;
}

std::string InsertSql(std::string_view sql_table, const std::vector<TFieldDef>& defs,
                      const std::vector<std::size_t>& fields, TParamStyle style) {
  std::string marks;
  for (std::size_t i = 0; i < fields.size(); ++i)
    marks += (i == 0 ? "" : ", ") + ParamMark(style, i + 1);
  return "INSERT INTO " + std::string(sql_table) + " (" + ColumnList(defs, fields) + ") VALUES (" +
         marks + ")";
}

std::string CreateTableSql(std::string_view table, const std::vector<TFieldDef>& fields,
                           const std::vector<std::size_t>& unique_key) {
  std::string sql = "CREATE TABLE " + QuoteIdentifier(table) + " (";
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const TFieldDef& f = fields[i];
    sql += (i == 0 ? "" : ", ") + QuoteIdentifier(f.Name) + ' ';
    switch (f.DataType) {
      case TFieldType::ftString:
        sql += "VARCHAR(" + std::to_string(f.DataSize - 1) + ")";
        break;
      case TFieldType::ftInteger:
        sql += "INTEGER";
        break;
      case TFieldType::ftMemo:
        sql += "TEXT";
        break;
      default:
        sql += "DOUBLE PRECISION";
        break;
    }
    if (std::find(unique_key.begin(), unique_key.end(), i) != unique_key.end()) {
      sql += " NOT NULL";
    }
  }
  if (!unique_key.empty()) {
    sql += ", UNIQUE (";
    for (std::size_t k = 0; k < unique_key.size(); ++k) {
      sql += (k == 0 ? "" : ", ") + QuoteIdentifier(fields.at(unique_key[k]).Name);
    }
    sql += ")";
  }
  return sql + ")";
}

}  // namespace tgen
