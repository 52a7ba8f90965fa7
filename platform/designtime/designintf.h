// The design-time interface: how a package makes its components, property editors and
// component editors known to a form designer, and the editor base classes.
//
// A property editor applies to a property type and name on a class and its descendants; the
// latest registration that fits wins. What a package registers while its Register runs
// belongs to it, and is taken back when the package is unloaded (its code goes with it).
// Registration and lookup are thread-safe; the editors themselves run on the designer's GUI
// thread.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/model/classes.h"
#include "platform/model/component.h"

namespace tgen {

// Attributes a property editor reports to the inspector.
enum TPropertyAttribute : unsigned {
  paValueList = 0x01,  // a drop-down list filled by GetValues
  paDialog = 0x04,     // a button that calls Edit
};

// The designer of one form, as its editors see it.
class TFormDesigner {
 public:
  TFormDesigner() = default;
  TFormDesigner(const TFormDesigner&) = delete;
  TFormDesigner& operator=(const TFormDesigner&) = delete;
  virtual ~TFormDesigner() = default;
  // The form has changed and must be saved.
  virtual void Modified() = 0;
};

// Edits one property of one component in the inspector.
class TPropertyEditor {
 public:
  TPropertyEditor(TFormDesigner* designer, TComponent& component, const TPropInfo& property)
      : designer_(designer), component_(component), property_(property) {}
  TPropertyEditor(const TPropertyEditor&) = delete;
  TPropertyEditor& operator=(const TPropertyEditor&) = delete;
  virtual ~TPropertyEditor() = default;

  virtual void Edit() {}
  [[nodiscard]] virtual unsigned GetAttributes() { return 0; }
  virtual void GetValues(const std::function<void(const std::string&)>& /*Proc*/) {}
  // The value as the inspector shows it, and a value typed there.
  [[nodiscard]] virtual std::string GetValue();
  virtual void SetValue(const std::string& Value);

  // The component being edited (only one: no editor allows a multiple selection).
  [[nodiscard]] TComponent& GetComponent(int /*Index*/ = 0) const { return component_; }
  [[nodiscard]] TFormDesigner* Designer() const { return designer_; }
  [[nodiscard]] const TPropInfo& Property() const { return property_; }

 private:
  TFormDesigner* designer_;
  TComponent& component_;
  const TPropInfo& property_;
};

// The editor of a text property.
class TStringProperty : public TPropertyEditor {
 public:
  using TPropertyEditor::TPropertyEditor;
};

// The editor of an event: a list of the handlers that the form's root publishes and that fit.
class TMethodProperty : public TPropertyEditor {
 public:
  using TPropertyEditor::TPropertyEditor;
  [[nodiscard]] unsigned GetAttributes() override { return paValueList; }
  void GetValues(const std::function<void(const std::string&)>& Proc) override;
};

// The editor of an enumeration: a list of its value names.
class TEnumProperty : public TPropertyEditor {
 public:
  using TPropertyEditor::TPropertyEditor;
  [[nodiscard]] unsigned GetAttributes() override { return paValueList; }
  void GetValues(const std::function<void(const std::string&)>& Proc) override;
};

// The context-menu verbs of a component in the designer; Edit is its double-click.
class TComponentEditor {
 public:
  TComponentEditor(TComponent& component, TFormDesigner* designer)
      : component_(component), designer_(designer) {}
  TComponentEditor(const TComponentEditor&) = delete;
  TComponentEditor& operator=(const TComponentEditor&) = delete;
  virtual ~TComponentEditor() = default;

  // Runs verb 0 when there is one.
  virtual void Edit() {
    if (GetVerbCount() > 0) ExecuteVerb(0);
  }
  virtual void ExecuteVerb(int /*Index*/) {}
  [[nodiscard]] virtual std::string GetVerb(int /*Index*/) { return {}; }
  [[nodiscard]] virtual int GetVerbCount() { return 0; }

  [[nodiscard]] TComponent& Component() const { return component_; }
  [[nodiscard]] TFormDesigner* Designer() const { return designer_; }

 private:
  TComponent& component_;
  TFormDesigner* designer_;
};

class TDesignRegistry {
 public:
  using PropertyEditorFactory = std::function<std::unique_ptr<TPropertyEditor>(
      TFormDesigner*, TComponent&, const TPropInfo&)>;
  using ComponentEditorFactory =
      std::function<std::unique_ptr<TComponentEditor>(TComponent&, TFormDesigner*)>;
  using ClassTest = std::function<bool(const TComponent&)>;

  struct PaletteEntry {
    std::string Page;
    std::string ClassName;
    std::string Package;  // who registered it; empty outside RegisterFor
  };

  static TDesignRegistry& Global();

  // Puts the classes on a palette page and makes them known to stored forms.
  template <class... T>
  void RegisterComponents(const std::string& page) {
    (RegisterClass<T>(), ...);
    (AddToPalette(page, std::string(T::StaticClassName)), ...);
  }
  // `type` is the property's type name ("string", "Integer", ...).
  template <class T>
  void RegisterPropertyEditor(const std::string& type, const std::string& property,
                              PropertyEditorFactory factory) {
    AddPropertyEditor(type, IsA<T>(), property, std::move(factory));
  }
  template <class T>
  void RegisterComponentEditor(ComponentEditorFactory factory) {
    AddComponentEditor(IsA<T>(), std::move(factory));
  }

  // Runs `registration`, attributing everything it registers to `package`. Not reentrant.
  void RegisterFor(const std::string& package, const std::function<void()>& registration);
  // Takes back everything registered for `package`, the classes it put on the palette
  // included (they leave the class registry too).
  void Forget(const std::string& package);

  [[nodiscard]] std::vector<PaletteEntry> Palette() const;
  // The editor for a property of a component: the latest registration that fits, else the
  // default one (an event's handler list, or plain text).
  [[nodiscard]] std::unique_ptr<TPropertyEditor> PropertyEditor(TFormDesigner* designer,
                                                                TComponent& component,
                                                                const TPropInfo& property) const;
  [[nodiscard]] std::unique_ptr<TComponentEditor> ComponentEditor(TComponent& component,
                                                                  TFormDesigner* designer) const;
  // Forgets everything (tests, and a package that is unloaded).
  void Clear();

 private:
  template <class T>
  static ClassTest IsA() {
    return [](const TComponent& c) { return dynamic_cast<const T*>(&c) != nullptr; };
  }
  void AddToPalette(const std::string& page, const std::string& class_name);
  void AddPropertyEditor(const std::string& type, ClassTest is_a, const std::string& property,
                         PropertyEditorFactory factory);
  void AddComponentEditor(ClassTest is_a, ComponentEditorFactory factory);

  struct PropertyEntry {
    std::string Type;
    ClassTest IsA;
    std::string Property;
    PropertyEditorFactory Factory;
    std::string Package;
  };
  struct ComponentEntry {
    ClassTest IsA;
    ComponentEditorFactory Factory;
    std::string Package;
  };
  mutable std::mutex mutex_;
  std::string registering_;  // the package whose Register runs, if any
  std::vector<PaletteEntry> palette_;
  std::vector<PropertyEntry> property_editors_;
  std::vector<ComponentEntry> component_editors_;
};

template <class... T>
void RegisterComponents(const std::string& page) {
  TDesignRegistry::Global().RegisterComponents<T...>(page);
}

template <class T>
void RegisterPropertyEditor(const std::string& type, const std::string& property,
                            TDesignRegistry::PropertyEditorFactory factory) {
  TDesignRegistry::Global().RegisterPropertyEditor<T>(type, property, std::move(factory));
}

template <class T>
void RegisterComponentEditor(TDesignRegistry::ComponentEditorFactory factory) {
  TDesignRegistry::Global().RegisterComponentEditor<T>(std::move(factory));
}

}  // namespace tgen
