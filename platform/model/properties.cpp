#include "platform/model/properties.h"

#include <algorithm>

#include "platform/base/exception.h"
#include "platform/base/tmstring.h"
#include "platform/model/component.h"

namespace tgen {

TPropList::TPropList(const TPropList& base, std::vector<TPropInfo> own) {
  for (const TPropInfo& p : base) {
    const bool redeclared = std::any_of(own.begin(), own.end(), [&](const TPropInfo& o) {
      return CompareText(o.Name, p.Name) == 0;
    });
    if (!redeclared) props_.push_back(p);
  }
  for (TPropInfo& p : own)
    props_.push_back(std::move(p));
}

const TPropInfo* TPropList::Find(std::string_view name) const {
  const auto it = std::find_if(props_.begin(), props_.end(),
                               [&](const TPropInfo& p) { return CompareText(p.Name, name) == 0; });
  return it == props_.end() ? nullptr : &*it;
}

std::size_t EnumIndex(const std::vector<std::string>& names, const std::string& type,
                      const std::string& value) {
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (CompareText(names[i], value) == 0) return i;
  }
  std::string listed;
  for (const std::string& n : names)
    listed += (listed.empty() ? "" : ", ") + n;
  throw Exception("'" + value + "' is not a value of " + type + " (" + listed + ")");
}

void TPropInfo::SetValue(TComponent& Instance, const TPropValue& Value,
                         const TComponent* Root) const {
  if (ReadOnly()) throw Exception("Property " + Name + " is read-only");
  const bool integer = std::holds_alternative<std::int32_t>(Value);
  if (integer != (Kind == TTypeKind::tkInteger)) {
    throw Exception("Property " + Name + " takes " +
                    (Kind == TTypeKind::tkInteger  ? "an integer"
                     : Kind == TTypeKind::tkString ? "a string"
                     : Kind == TTypeKind::tkMethod ? "a method name"
                                                   : "a value name"));
  }
  Set(Instance, Value, Root);
}

}  // namespace tgen
