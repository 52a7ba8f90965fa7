#include "platform/model/component.h"

#include <algorithm>

#include "platform/base/exception.h"
#include "platform/base/tmstring.h"

namespace tgen {

bool IsValidIdent(std::string_view text) {
  auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
  if (text.empty() || !letter(text.front())) return false;
  return std::all_of(text.begin(), text.end(),
                     [&](char c) { return letter(c) || (c >= '0' && c <= '9'); });
}

// ---------------------------------------------------------------------------------------------
// Life and ownership

TComponent::TComponent(TComponent* AOwner) {
  if (AOwner != nullptr) {
    AOwner->Insert(this);
    if (AOwner->Designing()) state_ |= csDesigning;
  }
}

TComponent::~TComponent() {
  // Each owned component takes itself out of the list as it goes.
  while (!components_.empty())
    delete components_.back();
  if (owner_ != nullptr) owner_->Remove(this);
}

void TComponent::Insert(TComponent* component) {
  components_.push_back(component);
  component->owner_ = this;
}

void TComponent::Remove(TComponent* component) {
  const auto it = std::find(components_.begin(), components_.end(), component);
  if (it != components_.end()) components_.erase(it);
  component->owner_ = nullptr;
}

TComponent* TComponent::FindComponent(std::string_view name) const {
  if (name.empty()) return nullptr;
  const auto it = std::find_if(components_.begin(), components_.end(), [&](const TComponent* c) {
    return CompareText(c->Name(), name) == 0;
  });
  return it == components_.end() ? nullptr : *it;
}

void TComponent::SetName(std::string_view value) {
  if (CompareText(value, name_) == 0 && value.size() == name_.size()) {
    name_ = value;
    return;
  }
  if (!value.empty() && !IsValidIdent(value)) {
    throw Exception("'" + std::string(value) + "' is not a valid component name");
  }
  if (owner_ != nullptr) {
    const TComponent* other = owner_->FindComponent(value);
    if (other != nullptr && other != this) {
      throw Exception("A component named " + std::string(value) + " already exists");
    }
  }
  name_ = value;
}

void TComponent::SetDesigning(bool value) {
  state_ = value ? (state_ | csDesigning) : (state_ & ~unsigned{csDesigning});
  for (TComponent* c : components_)
    c->SetDesigning(value);
}

void TComponent::Loaded() {
  state_ &= ~unsigned{csLoading};
}

// ---------------------------------------------------------------------------------------------
// Properties, stored values, published handlers

const TPropList& TComponent::ClassProperties() {
  static const TPropList list(
      TPropList(), {[] {
                      TPropInfo name = StringProperty<TComponent>(
                          "Name", "string", &TComponent::Name, &TComponent::SetName);
                      name.Stored = [](const TComponent&) { return false; };
                      return name;
                    }(),
                    IntegerProperty<TComponent>("Tag", &TComponent::Tag, &TComponent::SetTag)});
  return list;
}

void TComponent::DefineProperties(TFiler& Filer) {
  Filer.DefineProperty(
      "Left", [this](TReader& r) { left_ = r.ReadInteger(); },
      [this](TWriter& w) { w.WriteInteger(left_); }, left_ != 0);
  Filer.DefineProperty(
      "Top", [this](TReader& r) { top_ = r.ReadInteger(); },
      [this](TWriter& w) { w.WriteInteger(top_); }, top_ != 0);
}

void TComponent::PublishAny(const std::string& name, std::any method) {
  if (!IsValidIdent(name)) throw Exception("'" + name + "' is not a valid method name");
  const auto it = std::find_if(methods_.begin(), methods_.end(),
                               [&](const auto& m) { return CompareText(m.first, name) == 0; });
  if (it != methods_.end()) {
    it->second = std::move(method);
  } else {
    methods_.emplace_back(name, std::move(method));
  }
}

const std::any* TComponent::FindMethod(std::string_view name) const {
  const auto it = std::find_if(methods_.begin(), methods_.end(),
                               [&](const auto& m) { return CompareText(m.first, name) == 0; });
  return it == methods_.end() ? nullptr : &it->second;
}

std::vector<std::string> TComponent::MethodNames() const {
  std::vector<std::string> names;
  names.reserve(methods_.size());
  for (const auto& m : methods_)
    names.push_back(m.first);
  return names;
}

const std::any& FindPublishedMethod(const TComponent* Root, std::string_view Name) {
  const std::any* method = Root != nullptr ? Root->FindMethod(Name) : nullptr;
  if (method == nullptr) {
    throw Exception("Method " + std::string(Name) + " is not published by " +
                    (Root != nullptr && !Root->Name().empty() ? Root->Name() : "the form"));
  }
  return *method;
}

}  // namespace tgen
