// The dynamically typed value that crosses every channel.
#ifndef CLIENT_ENCODABLE_VALUE_H_
#define CLIENT_ENCODABLE_VALUE_H_

#include <any>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace flutter {

class EncodableValue;

using EncodableList = std::vector<EncodableValue>;
using EncodableMap = std::map<EncodableValue, EncodableValue>;

// An opaque object for codec extensions. This system never creates one; it
// exists so that the alternative indices match the wire tags.
class CustomValue {
 public:
  template <typename T>
  explicit CustomValue(T value) : value_(std::move(value)) {}

  const std::any& value() const { return value_; }

  // Custom values order by the identity of the held object: two distinct
  // custom values are never equivalent.
  friend bool operator<(const CustomValue& a, const CustomValue& b) {
    return std::less<const void*>()(&a.value_, &b.value_);
  }
  friend bool operator==(const CustomValue& a, const CustomValue& b) {
    return &a.value_ == &b.value_;
  }

 private:
  std::any value_;
};

namespace internal {
// The alternatives, in the order of their indices. Index 13 (float list)
// comes after CustomValue on purpose: the order is part of the contract.
using EncodableValueVariant =
    std::variant<std::monostate, bool, int32_t, int64_t, double, std::string,
                 std::vector<uint8_t>, std::vector<int32_t>,
                 std::vector<int64_t>, std::vector<double>, EncodableList,
                 EncodableMap, CustomValue, std::vector<float>>;
}  // namespace internal

class EncodableValue : public internal::EncodableValueVariant {
 public:
  using Variant = internal::EncodableValueVariant;

  EncodableValue() = default;
  // Text is always a string, never a bool.
  explicit EncodableValue(const char* text) : Variant(std::string(text)) {}
  EncodableValue& operator=(const char* text) {
    Variant::operator=(std::string(text));
    return *this;
  }

  template <typename T, typename = std::enable_if_t<
                            !std::is_same_v<std::decay_t<T>, EncodableValue> &&
                            std::is_constructible_v<Variant, T&&>>>
  constexpr EncodableValue(T&& value)  // NOLINT(google-explicit-constructor)
      noexcept(std::is_nothrow_constructible_v<Variant, T&&>)
      : Variant(std::forward<T>(value)) {}

  bool IsNull() const { return std::holds_alternative<std::monostate>(*this); }

  // Ordering: first by alternative index, then by content (see the .cc).
  friend bool operator<(const EncodableValue& a, const EncodableValue& b);
  friend bool operator==(const EncodableValue& a, const EncodableValue& b) {
    return static_cast<const Variant&>(a) == static_cast<const Variant&>(b);
  }
  friend bool operator!=(const EncodableValue& a, const EncodableValue& b) {
    return !(a == b);
  }
};

}  // namespace flutter

#endif  // CLIENT_ENCODABLE_VALUE_H_
