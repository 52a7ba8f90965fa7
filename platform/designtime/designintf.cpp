#include "platform/designtime/designintf.h"

#include <algorithm>

#include "platform/base/convert.h"
#include "platform/base/tmstring.h"

namespace tgen {

std::string TPropertyEditor::GetValue() {
  const TPropValue v = property_.Get(component_);
  if (const auto* n = std::get_if<std::int32_t>(&v)) return std::to_string(*n);
  return std::get<std::string>(v);
}

void TPropertyEditor::SetValue(const std::string& Value) {
  if (property_.Kind == TTypeKind::tkInteger) {
    property_.SetValue(component_, StrToInt(Value));
  } else {
    property_.SetValue(component_, Value, component_.Owner());
  }
  if (designer_ != nullptr) designer_->Modified();
}

void TMethodProperty::GetValues(const std::function<void(const std::string&)>& Proc) {
  const TComponent* root = GetComponent().Owner();
  if (root == nullptr || !Property().Accepts) return;
  for (const std::string& name : root->MethodNames()) {
    const std::any* method = root->FindMethod(name);
    if (method != nullptr && Property().Accepts(*method)) Proc(name);
  }
}

TDesignRegistry& TDesignRegistry::Global() {
  static TDesignRegistry registry;
  return registry;
}

void TDesignRegistry::AddToPalette(const std::string& page, const std::string& class_name) {
  const std::lock_guard lock(mutex_);
  const bool known = std::any_of(palette_.begin(), palette_.end(), [&](const PaletteEntry& e) {
    return e.Page == page && e.ClassName == class_name;
  });
  if (!known) palette_.push_back({page, class_name, registering_});
}

void TDesignRegistry::AddPropertyEditor(const std::string& type, ClassTest is_a,
                                        const std::string& property,
                                        PropertyEditorFactory factory) {
  const std::lock_guard lock(mutex_);
  property_editors_.push_back({type, std::move(is_a), property, std::move(factory), registering_});
}

void TDesignRegistry::AddComponentEditor(ClassTest is_a, ComponentEditorFactory factory) {
  const std::lock_guard lock(mutex_);
  component_editors_.push_back({std::move(is_a), std::move(factory), registering_});
}

void TDesignRegistry::RegisterFor(const std::string& package,
                                  const std::function<void()>& registration) {
  const auto attribute_to = [this](const std::string& name) {
    const std::lock_guard lock(mutex_);
    registering_ = name;
  };
  attribute_to(package);
  try {
    registration();
  } catch (...) {
    attribute_to({});
    throw;
  }
  attribute_to({});
}

void TDesignRegistry::Forget(const std::string& package) {
  std::vector<std::string> classes;
  {
    const std::lock_guard lock(mutex_);
    const auto of_package = [&](const auto& entry) { return entry.Package == package; };
    for (const PaletteEntry& e : palette_) {
      if (of_package(e)) classes.push_back(e.ClassName);
    }
    std::erase_if(palette_, of_package);
    std::erase_if(property_editors_, of_package);
    std::erase_if(component_editors_, of_package);
  }
  for (const std::string& name : classes)
    TClassRegistry::Global().Unregister(name);
}

std::vector<TDesignRegistry::PaletteEntry> TDesignRegistry::Palette() const {
  const std::lock_guard lock(mutex_);
  return palette_;
}

void TEnumProperty::GetValues(const std::function<void(const std::string&)>& Proc) {
  for (const std::string& name : Property().Names)
    Proc(name);
}

std::unique_ptr<TPropertyEditor> TDesignRegistry::PropertyEditor(TFormDesigner* designer,
                                                                 TComponent& component,
                                                                 const TPropInfo& property) const {
  PropertyEditorFactory factory;
  {
    const std::lock_guard lock(mutex_);
    for (auto it = property_editors_.rbegin(); it != property_editors_.rend(); ++it) {
      if (CompareText(it->Type, property.TypeName) == 0 &&
          CompareText(it->Property, property.Name) == 0 && it->IsA(component)) {
        factory = it->Factory;
        break;
      }
    }
  }
  if (factory) return factory(designer, component, property);
  if (property.Kind == TTypeKind::tkMethod) {
    return std::make_unique<TMethodProperty>(designer, component, property);
  }
  if (property.Kind == TTypeKind::tkEnumeration) {
    return std::make_unique<TEnumProperty>(designer, component, property);
  }
  return std::make_unique<TPropertyEditor>(designer, component, property);
}

std::unique_ptr<TComponentEditor> TDesignRegistry::ComponentEditor(TComponent& component,
                                                                   TFormDesigner* designer) const {
  ComponentEditorFactory factory;
  {
    const std::lock_guard lock(mutex_);
    for (auto it = component_editors_.rbegin(); it != component_editors_.rend(); ++it) {
      if (it->IsA(component)) {
        factory = it->Factory;
        break;
      }
    }
  }
  if (factory) return factory(component, designer);
  return std::make_unique<TComponentEditor>(component, designer);
}

void TDesignRegistry::Clear() {
  const std::lock_guard lock(mutex_);
  palette_.clear();
  property_editors_.clear();
  component_editors_.clear();
}

}  // namespace tgen
