// Method references: the type of handler slots and events.
//
// A TMethodRef is a callable bound to an object, like a member function pointer together with
// the instance it is called on. It counts as assigned when its function part is set; calling
// an unassigned one does nothing (and returns a default value), so callers may write
// `OnOverFlow(this, suffix)` without testing first, or test Assigned() when the absence of a
// handler changes what they do. A reference that a form's root publishes carries the
// method's name, which is how a stored form refers to it. Not synchronised: a slot belongs to
// its owner's thread.
#pragma once

#include <functional>
#include <string>
#include <type_traits>
#include <utility>

namespace tgen {

template <typename Signature>
class TMethodRef;

template <typename R, typename... Args>
class TMethodRef<R(Args...)> {
 public:
  TMethodRef() = default;

  // Binds `method` to `object`; the object must outlive every call through the reference.
  template <typename T>
  TMethodRef(T* object, R (T::*method)(Args...))
      : code_([object, method](Args... args) -> R {
          return (object->*method)(std::forward<Args>(args)...);
        }) {}

  template <typename T>
  TMethodRef(const T* object, R (T::*method)(Args...) const)
      : code_([object, method](Args... args) -> R {
          return (object->*method)(std::forward<Args>(args)...);
        }) {}

  // Binds any callable, with no object behind it (a free function or a lambda).
  template <typename F, typename = std::enable_if_t<std::is_invocable_r_v<R, F&, Args...> &&
                                                    !std::is_same_v<std::decay_t<F>, TMethodRef>>>
  // cppcheck-suppress noExplicitConstructor
  TMethodRef(F callable)  // NOLINT(google-explicit-constructor): slots are assigned lambdas
      : code_(std::move(callable)) {}

  [[nodiscard]] bool Assigned() const { return static_cast<bool>(code_); }
  explicit operator bool() const { return Assigned(); }

  // The published name of the method; empty for one that was bound by code alone.
  [[nodiscard]] const std::string& Name() const { return name_; }
  [[nodiscard]] TMethodRef Named(std::string name) const {
    TMethodRef named = *this;
    named.name_ = std::move(name);
    return named;
  }

  void Clear() {
    code_ = nullptr;
    name_.clear();
  }

  R operator()(Args... args) const {
    if (!code_) return R();
    return code_(std::forward<Args>(args)...);
  }

 private:
  std::function<R(Args...)> code_;
  std::string name_;
};

}  // namespace tgen
