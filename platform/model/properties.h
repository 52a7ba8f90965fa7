// Published properties: one description per class of what a component shows and stores.
//
// A TPropInfo names a property, its kind and type, and how to read and write it on a
// component; TPropList is a class's whole list, the base class's properties first. The stored
// form, the designer's inspector and the tests all work from this one description.
#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "platform/base/exception.h"

namespace tgen {

class TComponent;

enum class TTypeKind { tkInteger, tkString, tkMethod, tkEnumeration };

// A property's value: an integer, or a text (for an event, the name of its handler; for an
// enumeration, the name of its value).
using TPropValue = std::variant<std::int32_t, std::string>;

struct TPropInfo {
  std::string Name;
  TTypeKind Kind = TTypeKind::tkInteger;
  std::string TypeName;  // "Integer", "string", "TmString", the event or enumeration type's name
  std::vector<std::string> Names;  // an enumeration's value names, in the order of its values

  std::function<TPropValue(const TComponent&)> Get;
  // Empty for a read-only property. For an event, the value names a handler that `Root`
  // publishes; the empty name clears the event.
  std::function<void(TComponent&, const TPropValue&, const TComponent* Root)> Set;
  // Whether the value is written to a stored form.
  std::function<bool(const TComponent&)> Stored;
  // For an event: whether a published handler (a std::any holding a method reference) fits.
  std::function<bool(const std::any&)> Accepts;

  [[nodiscard]] bool ReadOnly() const { return !Set; }
  // Sets the value after checking that its type fits; throws Exception otherwise.
  void SetValue(TComponent& Instance, const TPropValue& Value,
                const TComponent* Root = nullptr) const;
};

class TPropList {
 public:
  TPropList() = default;
  // The base class's properties (less those that `own` declares again) and then `own`.
  TPropList(const TPropList& base, std::vector<TPropInfo> own);

  // The property of that name, compared without regard to case; null when there is none.
  [[nodiscard]] const TPropInfo* Find(std::string_view name) const;
  [[nodiscard]] auto begin() const { return props_.begin(); }
  [[nodiscard]] auto end() const { return props_.end(); }
  [[nodiscard]] std::size_t size() const { return props_.size(); }

 private:
  std::vector<TPropInfo> props_;
};

// Looks up a handler that `Root` publishes, for an event property; defined in component.cpp.
const std::any& FindPublishedMethod(const TComponent* Root, std::string_view Name);
// The position of `value` among an enumeration's `names`, compared without regard to case;
// Exception "'x' is not a value of TType (a, b)" when it is none of them.
std::size_t EnumIndex(const std::vector<std::string>& names, const std::string& type,
                      const std::string& value);

// Describes an integer property of class C. `get` and `set` are anything std::invoke takes
// with a C (member function pointers or lambdas); pass nullptr as `set` for a read-only one.
// Stored when it differs from `default_value`.
template <class C, class G, class S>
TPropInfo IntegerProperty(std::string name, G get, S set, std::int32_t default_value = 0) {
  TPropInfo p;
  p.Name = std::move(name);
  p.Kind = TTypeKind::tkInteger;
  p.TypeName = "Integer";
  p.Get = [get](const TComponent& c) -> TPropValue {
    return static_cast<std::int32_t>(std::invoke(get, static_cast<const C&>(c)));
  };
  if constexpr (!std::is_null_pointer_v<S>) {
    p.Set = [set](TComponent& c, const TPropValue& v, const TComponent*) {
      std::invoke(set, static_cast<C&>(c), std::get<std::int32_t>(v));
    };
    p.Stored = [get, default_value](const TComponent& c) {
      return std::invoke(get, static_cast<const C&>(c)) != default_value;
    };
  } else {
    p.Stored = [](const TComponent&) { return false; };
  }
  return p;
}

// Describes a text property; stored when not empty.
template <class C, class G, class S>
TPropInfo StringProperty(std::string name, std::string type_name, G get, S set) {
  TPropInfo p;
  p.Name = std::move(name);
  p.Kind = TTypeKind::tkString;
  p.TypeName = std::move(type_name);
  p.Get = [get](const TComponent& c) -> TPropValue {
    return std::string(std::string_view(std::invoke(get, static_cast<const C&>(c))));
  };
  if constexpr (!std::is_null_pointer_v<S>) {
    p.Set = [set](TComponent& c, const TPropValue& v, const TComponent*) {
      std::invoke(set, static_cast<C&>(c), std::get<std::string>(v));
    };
  }
  p.Stored = [get](const TComponent& c) {
    return !std::string_view(std::invoke(get, static_cast<const C&>(c))).empty();
  };
  return p;
}

// Describes an enumeration property of class C whose values E are named `names`, in order
// (E's values are 0, 1, ...). Set takes a name in any case; another text throws Exception.
// Stored when it differs from `default_value`.
template <class C, class E, class G, class S>
TPropInfo EnumProperty(std::string name, std::string type_name, std::vector<std::string> names,
                       G get, S set, E default_value) {
  TPropInfo p;
  p.Name = std::move(name);
  p.Kind = TTypeKind::tkEnumeration;
  p.TypeName = std::move(type_name);
  p.Names = std::move(names);
  p.Get = [get, names = p.Names](const TComponent& c) -> TPropValue {
    return names.at(static_cast<std::size_t>(std::invoke(get, static_cast<const C&>(c))));
  };
  p.Set = [set, names = p.Names, type = p.TypeName](TComponent& c, const TPropValue& v,
                                                    const TComponent*) {
    const std::size_t index = EnumIndex(names, type, std::get<std::string>(v));
    std::invoke(set, static_cast<C&>(c), static_cast<E>(index));
  };
  p.Stored = [get, default_value](const TComponent& c) {
    return std::invoke(get, static_cast<const C&>(c)) != default_value;
  };
  return p;
}

// Describes an event held in the field `field` of class C; E is its method reference type.
// Stored when a handler that has a published name is assigned.
template <class C, class E>
TPropInfo EventProperty(std::string name, std::string type_name, E C::*field) {
  TPropInfo p;
  p.Name = std::move(name);
  p.Kind = TTypeKind::tkMethod;
  p.TypeName = std::move(type_name);
  p.Get = [field](const TComponent& c) -> TPropValue {
    return (static_cast<const C&>(c).*field).Name();
  };
  p.Set = [field, prop = p.Name, type = p.TypeName](TComponent& c, const TPropValue& v,
                                                    const TComponent* root) {
    const auto& handler_name = std::get<std::string>(v);
    E& event = static_cast<C&>(c).*field;
    if (handler_name.empty()) {
      event.Clear();
      return;
    }
    const E* handler = std::any_cast<E>(&FindPublishedMethod(root, handler_name));
    if (handler == nullptr) {
      throw Exception("Method " + handler_name + " does not fit " + prop + " (" + type + ")");
    }
    event = *handler;
  };
  p.Stored = [field](const TComponent& c) {
    const E& event = static_cast<const C&>(c).*field;
    return event.Assigned() && !event.Name().empty();
  };
  p.Accepts = [](const std::any& method) { return std::any_cast<E>(&method) != nullptr; };
  return p;
}

}  // namespace tgen
