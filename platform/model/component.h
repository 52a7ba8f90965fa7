// The component base class: a name, an owner that frees what it owns, the component state,
// published properties, stored extra values and the notice that loading has finished.
//
// Ownership: a component created with an owner is inserted into the owner's list and freed by
// the owner, the owned in reverse order of insertion; freeing a component earlier takes it out
// of its owner's list. A component without an owner belongs to whoever created it (hold it in
// a std::unique_ptr). Components are not copied or moved, and are used from one thread at a
// time.
#pragma once

#include <any>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/model/filer.h"
#include "platform/model/method.h"
#include "platform/model/object.h"
#include "platform/model/properties.h"

namespace tgen {

// The component state, a set of these flags.
enum TComponentStateFlag : unsigned {
  csLoading = 0x01,    // being read from a stored form; cleared by Loaded()
  csDesigning = 0x02,  // being designed in the form designer
};

class TComponent : public TObject {
 public:
  static constexpr std::string_view StaticClassName = "TComponent";

  // Inserts the new component into `AOwner`'s list (when given); a component whose owner is
  // designing is designing too.
  explicit TComponent(TComponent* AOwner);
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  [[nodiscard]] virtual std::string_view ClassName() const { return StaticClassName; }
  // The published properties of the component's class.
  [[nodiscard]] virtual const TPropList& Properties() const { return ClassProperties(); }
  // TComponent's own: Name (carried by the form's object line, so not stored as a property)
  // and Tag.
  static const TPropList& ClassProperties();

  [[nodiscard]] const std::string& Name() const { return name_; }
  // Throws Exception for a name that is not an identifier or that another component of the
  // same owner already has (compared without regard to case). The empty name is allowed.
  void SetName(std::string_view value);
  [[nodiscard]] std::int32_t Tag() const { return tag_; }
  void SetTag(std::int32_t value) { tag_ = value; }

  [[nodiscard]] TComponent* Owner() const { return owner_; }
  [[nodiscard]] int ComponentCount() const { return static_cast<int>(components_.size()); }
  [[nodiscard]] TComponent* Components(int index) const {
    return components_.at(static_cast<std::size_t>(index));
  }
  // The owned component of that name (without regard to case), or null.
  [[nodiscard]] TComponent* FindComponent(std::string_view name) const;

  [[nodiscard]] unsigned ComponentState() const { return state_; }
  [[nodiscard]] bool Designing() const { return (state_ & csDesigning) != 0; }
  [[nodiscard]] bool IsLoading() const { return (state_ & csLoading) != 0; }
  // Sets or clears the designing flag of this component and of everything it owns.
  void SetDesigning(bool value);
  // Marks the component as being read, or no longer; Loaded() clears the mark too.
  void SetLoading(bool value) {
    state_ = value ? (state_ | csLoading) : (state_ & ~unsigned{csLoading});
  }

  // Where the designer shows a component on its form; stored as Left and Top when not 0.
  [[nodiscard]] std::int32_t Left() const { return left_; }
  [[nodiscard]] std::int32_t Top() const { return top_; }
  void SetDesignPosition(std::int32_t left, std::int32_t top) {
    left_ = left;
    top_ = top;
  }

  // Handlers that this component publishes by name, for the events of the components on a
  // form whose root it is. Throws Exception for a name that is not an identifier.
  template <typename Signature>
  void PublishMethod(const std::string& name, const TMethodRef<Signature>& method) {
    PublishAny(name, std::any(method.Named(name)));
  }
  // The published handler of that name (a std::any holding its TMethodRef), or null.
  [[nodiscard]] const std::any* FindMethod(std::string_view name) const;
  [[nodiscard]] std::vector<std::string> MethodNames() const;

  // Called once the whole form that holds the component has been read.
  virtual void Loaded();
  // Declares the values stored beyond the published properties: here Left and Top.
  virtual void DefineProperties(TFiler& Filer);

 private:
  void PublishAny(const std::string& name, std::any method);
  void Insert(TComponent* component);
  void Remove(TComponent* component);

  TComponent* owner_ = nullptr;
  std::vector<TComponent*> components_;  // owned, in order of insertion
  std::string name_;
  std::int32_t tag_ = 0;
  unsigned state_ = 0;
  std::int32_t left_ = 0;
  std::int32_t top_ = 0;
  std::vector<std::pair<std::string, std::any>> methods_;
};

// True for a non-empty identifier: a letter or "_" followed by letters, digits and "_".
bool IsValidIdent(std::string_view text);

}  // namespace tgen
