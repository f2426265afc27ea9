#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <variant>
#include <vector>

namespace flutter {

// A type-erased application value carried inside an EncodableValue. It keeps
// the held object and its run-time type; copies are deep. Two CustomValues are
// the same only when they are the same held object.
class CustomValue {
 public:
  // Constrained to other types, so copies and moves use the constructors below.
  template <typename T, typename = std::enable_if_t<!std::is_same_v<std::decay_t<T>, CustomValue>>>
  explicit CustomValue(T&& value)  // NOLINT(bugprone-forwarding-reference-overload)
      : holder_(std::make_unique<Holder<std::decay_t<T>>>(std::forward<T>(value))) {}

  CustomValue(const CustomValue& other) : holder_(other.holder_ ? other.holder_->Clone() : nullptr) {}
  CustomValue(CustomValue&& other) noexcept = default;
  CustomValue& operator=(const CustomValue& other) {
    CustomValue copy(other);
    holder_ = std::move(copy.holder_);
    return *this;
  }
  CustomValue& operator=(CustomValue&& other) noexcept = default;
  ~CustomValue() = default;

  // The run-time type of the held object (void for a moved-from value).
  const std::type_info& type() const { return holder_ ? holder_->Type() : typeid(void); }

  // The held object when it is a T, otherwise null.
  template <typename T>
  const T* TryGet() const {
    if (!holder_ || holder_->Type() != typeid(T)) {
      return nullptr;
    }
    return static_cast<const T*>(holder_->Address());
  }

  // Storage address of the held object: a custom value's identity.
  const void* address() const { return holder_ ? holder_->Address() : nullptr; }

  friend bool operator==(const CustomValue& a, const CustomValue& b) { return a.address() == b.address(); }
  friend bool operator!=(const CustomValue& a, const CustomValue& b) { return !(a == b); }

 private:
  struct HolderBase {
    virtual ~HolderBase() = default;
    virtual std::unique_ptr<HolderBase> Clone() const = 0;
    virtual const std::type_info& Type() const = 0;
    virtual const void* Address() const = 0;
  };
  template <typename T>
  struct Holder final : HolderBase {
    explicit Holder(T v) : value(std::move(v)) {}
    std::unique_ptr<HolderBase> Clone() const override { return std::make_unique<Holder<T>>(value); }
    const std::type_info& Type() const override { return typeid(T); }
    const void* Address() const override { return &value; }
    T value;
  };

  std::unique_ptr<HolderBase> holder_;
};

class EncodableValue;

using EncodableList = std::vector<EncodableValue>;
using EncodableMap = std::map<EncodableValue, EncodableValue>;

// The alternative order is part of the wire format and of the ordering:
// never reorder. The float list comes after the custom value on purpose.
using EncodableValueVariant = std::variant<std::monostate,        // 0 null
                                           bool,                  // 1
                                           int32_t,               // 2
                                           int64_t,               // 3
                                           double,                // 4
                                           std::string,           // 5
                                           std::vector<uint8_t>,  // 6
                                           std::vector<int32_t>,  // 7
                                           std::vector<int64_t>,  // 8
                                           std::vector<double>,   // 9
                                           EncodableList,         // 10
                                           EncodableMap,          // 11
                                           CustomValue,           // 12
                                           std::vector<float>>;   // 13

// The one value type that crosses every method channel.
class EncodableValue : public EncodableValueVariant {
 public:
  using EncodableValueVariant::EncodableValueVariant;
  using EncodableValueVariant::operator=;

  EncodableValue() = default;
  // Without this a string literal would convert to bool.
  EncodableValue(const char* text)
      : EncodableValueVariant(std::string(text)) {}  // NOLINT: implicit on purpose
  EncodableValue& operator=(const char* text) {
    EncodableValueVariant::operator=(std::string(text));
    return *this;
  }

  bool IsNull() const { return std::holds_alternative<std::monostate>(*this); }

  // Typed access. A value that holds another alternative raises a
  // default-constructed std::bad_variant_access, whose text the standard
  // leaves to the library: with libstdc++ (the g++ and MinGW-w64 builds) it
  // is "bad variant access", which callers report. std::get there says
  // "std::get: wrong index for variant" instead, so use these.
  template <typename T>
  const T& Get() const {
    if (!std::holds_alternative<T>(*this)) {
      throw std::bad_variant_access();
    }
    return *std::get_if<T>(this);
  }
  template <typename T>
  T& Get() {
    if (!std::holds_alternative<T>(*this)) {
      throw std::bad_variant_access();
    }
    return *std::get_if<T>(this);
  }

  // The held alternative when it is a T, otherwise null.
  template <typename T>
  const T* TryGet() const {
    return std::get_if<T>(this);
  }
  template <typename T>
  T* TryGet() {
    return std::get_if<T>(this);
  }

  const EncodableValueVariant& variant() const { return *this; }
  EncodableValueVariant& variant() { return *this; }

  // Strict weak order: alternative index first (a valueless value before
  // everything), then the contents. Doubles compare with IEEE less-than, so a
  // NaN is equivalent to every double and -0.0 to 0.0; custom values compare
  // by identity.
  friend bool operator<(const EncodableValue& a, const EncodableValue& b);
};

}  // namespace flutter
