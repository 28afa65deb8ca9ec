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

// Strict access to an alternative the value does not hold fails with
// std::bad_variant_access whose message is its own, "bad variant access":
// the values' contract, which callers may show or match. The accessors
// EncodableValue would inherit word it after the library ("std::get: wrong
// index for variant"); these overloads take the value type exactly, so
// std::get<T>(value) resolves to them before the variant's own.
namespace std {

template <typename T>
T& get(flutter::EncodableValue& value) {
  T* content =
      get_if<T>(&static_cast<flutter::EncodableValue::Variant&>(value));
  if (content == nullptr) {
    throw bad_variant_access();
  }
  return *content;
}

template <typename T>
const T& get(const flutter::EncodableValue& value) {
  const T* content =
      get_if<T>(&static_cast<const flutter::EncodableValue::Variant&>(value));
  if (content == nullptr) {
    throw bad_variant_access();
  }
  return *content;
}

template <typename T>
T&& get(flutter::EncodableValue&& value) {
  return std::move(std::get<T>(value));
}

template <typename T>
const T&& get(const flutter::EncodableValue&& value) {
  return std::move(std::get<T>(value));
}

template <size_t I>
variant_alternative_t<I, flutter::EncodableValue::Variant>& get(
    flutter::EncodableValue& value) {
  return std::get<variant_alternative_t<I, flutter::EncodableValue::Variant>>(
      value);
}

template <size_t I>
const variant_alternative_t<I, flutter::EncodableValue::Variant>& get(
    const flutter::EncodableValue& value) {
  return std::get<variant_alternative_t<I, flutter::EncodableValue::Variant>>(
      value);
}

template <size_t I>
variant_alternative_t<I, flutter::EncodableValue::Variant>&& get(
    flutter::EncodableValue&& value) {
  return std::move(std::get<I>(value));
}

template <size_t I>
const variant_alternative_t<I, flutter::EncodableValue::Variant>&& get(
    const flutter::EncodableValue&& value) {
  return std::move(std::get<I>(value));
}

}  // namespace std

#endif  // CLIENT_ENCODABLE_VALUE_H_
