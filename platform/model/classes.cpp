#include "platform/model/classes.h"

#include <algorithm>

#include "platform/base/exception.h"
#include "platform/base/tmstring.h"
#include "platform/model/datamodule.h"

namespace tgen {

TClassRegistry& TClassRegistry::Global() {
  static TClassRegistry registry;
  static const bool seeded = (registry.RegisterClass<TDataModule>(), true);
  static_cast<void>(seeded);
  return registry;
}

void TClassRegistry::Register(std::string class_name, Factory factory) {
  const std::lock_guard lock(mutex_);
  const auto it = std::find_if(factories_.begin(), factories_.end(), [&](const auto& f) {
    return CompareText(f.first, class_name) == 0;
  });
  if (it != factories_.end()) {
    it->second = std::move(factory);
  } else {
    factories_.emplace_back(std::move(class_name), std::move(factory));
  }
}

void TClassRegistry::Unregister(std::string_view class_name) {
  const std::lock_guard lock(mutex_);
  std::erase_if(factories_, [&](const auto& f) { return CompareText(f.first, class_name) == 0; });
}

TClassRegistry::Factory TClassRegistry::Find(std::string_view class_name) const {
  const std::lock_guard lock(mutex_);
  const auto it = std::find_if(factories_.begin(), factories_.end(), [&](const auto& f) {
    return CompareText(f.first, class_name) == 0;
  });
  if (it == factories_.end()) throw Exception("Class " + std::string(class_name) + " not found");
  return it->second;
}

bool TClassRegistry::Contains(std::string_view class_name) const {
  const std::lock_guard lock(mutex_);
  return std::any_of(factories_.begin(), factories_.end(),
                     [&](const auto& f) { return CompareText(f.first, class_name) == 0; });
}

TComponent& TClassRegistry::Create(std::string_view class_name, TComponent& owner) const {
  // The new component has inserted itself into its owner, which frees it from now on.
  return *Find(class_name)(&owner).release();
}

std::unique_ptr<TComponent> TClassRegistry::CreateRoot(std::string_view class_name) const {
  return Find(class_name)(nullptr);
}

}  // namespace tgen
