#include "platform/designintf.h"

#include <algorithm>

#include "platform/tmstring.h"

namespace tgen {

std::string TPropertyEditor::GetValue() {
  const TPropValue v = property_.Get(component_);
  if (const auto* n = std::get_if<std::int32_t>(&v)) return std::to_string(*n);
  return std::get<std::string>(v);
}

void TPropertyEditor::SetValue(const std::string& Value) {
  if (property_.Kind == TTypeKind::tkInteger) {
    property_.SetValue(component_, static_cast<std::int32_t>(std::stol(Value)));
  } else {
    property_.SetValue(component_, Value, component_.Owner());
  }
  if (designer_ != nullptr) designer_->Modified();
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
  if (!known) palette_.push_back({page, class_name});
}

void TDesignRegistry::AddPropertyEditor(const std::string& type, ClassTest is_a,
                                        const std::string& property,
                                        PropertyEditorFactory factory) {
  const std::lock_guard lock(mutex_);
  property_editors_.push_back({type, std::move(is_a), property, std::move(factory)});
}

void TDesignRegistry::AddComponentEditor(ClassTest is_a, ComponentEditorFactory factory) {
  const std::lock_guard lock(mutex_);
  component_editors_.push_back({std::move(is_a), std::move(factory)});
}

std::vector<TDesignRegistry::PaletteEntry> TDesignRegistry::Palette() const {
  const std::lock_guard lock(mutex_);
  return palette_;
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
