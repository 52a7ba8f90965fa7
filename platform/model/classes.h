// The class registry: creates components by class name, as a stored form names them.
//
// Thread-safe. The global registry knows TDataModule from the start; other classes are added
// with RegisterClass<T>() (T needs a constructor taking the owner and a StaticClassName).
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/model/component.h"

namespace tgen {

class TClassRegistry {
 public:
  using Factory = std::function<std::unique_ptr<TComponent>(TComponent* owner)>;

  TClassRegistry() = default;
  static TClassRegistry& Global();

  template <class T>
  void RegisterClass() {
    Register(std::string(T::StaticClassName), [](TComponent* owner) -> std::unique_ptr<TComponent> {
      return std::make_unique<T>(owner);
    });
  }
  // Registers (or replaces) the factory of a class name.
  void Register(std::string class_name, Factory factory);
  // Forgets a class (its package is being unloaded); nothing happens for an unknown name.
  void Unregister(std::string_view class_name);
  [[nodiscard]] bool Contains(std::string_view class_name) const;

  // A new component of that class, owned by `owner`; throws Exception for an unknown class.
  TComponent& Create(std::string_view class_name, TComponent& owner) const;
  // A new component of that class without an owner.
  [[nodiscard]] std::unique_ptr<TComponent> CreateRoot(std::string_view class_name) const;

 private:
  [[nodiscard]] Factory Find(std::string_view class_name) const;

  mutable std::mutex mutex_;
  std::vector<std::pair<std::string, Factory>> factories_;
};

template <class T>
void RegisterClass() {
  TClassRegistry::Global().RegisterClass<T>();
}

}  // namespace tgen
