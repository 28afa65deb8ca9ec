#include "client/encodable_value.h"

#include <cmath>
#include <functional>

namespace flutter {
namespace {

// Every comparison here is three-way: negative, zero or positive. Deriving
// less-than from one three-way pass visits each pair of nested elements at
// most once; deriving it from less-than alone compares equal elements twice
// (map entries three times) at every level, which doubles the cost per
// level of nesting.
int Compare(const EncodableValue& a, const EncodableValue& b);

template <typename T>
int CompareOrdered(const T& a, const T& b) {
  if (a < b) {
    return -1;
  }
  return b < a ? 1 : 0;
}

// Floating values order totally: numbers by value (-0.0 and 0.0 alike),
// every NaN after every number and equivalent to every other NaN. IEEE
// order alone would make a NaN equivalent to everything, which is not a
// strict weak ordering.
template <typename T>
int CompareFloating(T a, T b) {
  const bool a_nan = std::isnan(a);
  const bool b_nan = std::isnan(b);
  if (a_nan || b_nan) {
    return static_cast<int>(a_nan) - static_cast<int>(b_nan);
  }
  return CompareOrdered(a, b);
}

int CompareElement(uint8_t a, uint8_t b) { return CompareOrdered(a, b); }
int CompareElement(int32_t a, int32_t b) { return CompareOrdered(a, b); }
int CompareElement(int64_t a, int64_t b) { return CompareOrdered(a, b); }
int CompareElement(double a, double b) { return CompareFloating(a, b); }
int CompareElement(float a, float b) { return CompareFloating(a, b); }
int CompareElement(const EncodableValue& a, const EncodableValue& b) {
  return Compare(a, b);
}
// Entries compare by key, then by value for equivalent keys.
int CompareElement(const EncodableMap::value_type& a,
                   const EncodableMap::value_type& b) {
  const int keys = Compare(a.first, b.first);
  return keys != 0 ? keys : Compare(a.second, b.second);
}

// Lexicographic; a proper prefix orders first.
template <typename Sequence>
int CompareSequences(const Sequence& a, const Sequence& b) {
  auto x = a.begin();
  auto y = b.begin();
  for (; x != a.end() && y != b.end(); ++x, ++y) {
    const int order = CompareElement(*x, *y);
    if (order != 0) {
      return order;
    }
  }
  return CompareOrdered(a.size(), b.size());
}

struct SameKindCompare {
  int operator()(const std::monostate&, const std::monostate&) const {
    return 0;
  }
  int operator()(bool a, bool b) const { return CompareOrdered(a, b); }
  int operator()(int32_t a, int32_t b) const { return CompareOrdered(a, b); }
  int operator()(int64_t a, int64_t b) const { return CompareOrdered(a, b); }
  int operator()(double a, double b) const { return CompareFloating(a, b); }
  // Bytes compare as unsigned values.
  int operator()(const std::string& a, const std::string& b) const {
    return CompareOrdered(a.compare(b), 0);
  }
  template <typename Sequence>
  int operator()(const Sequence& a, const Sequence& b) const {
    return CompareSequences(a, b);
  }
  // By identity: two distinct custom values are never equivalent.
  int operator()(const CustomValue& a, const CustomValue& b) const {
    const std::less<const void*> less;
    if (less(&a.value(), &b.value())) {
      return -1;
    }
    return less(&b.value(), &a.value()) ? 1 : 0;
  }
};

int Compare(const EncodableValue& a, const EncodableValue& b) {
  if (a.index() != b.index()) {
    return CompareOrdered(a.index(), b.index());
  }
  return std::visit(
      [&b](const auto& content) {
        using Content = std::decay_t<decltype(content)>;
        return SameKindCompare()(content, std::get<Content>(b));
      },
      static_cast<const EncodableValue::Variant&>(a));
}

}  // namespace

bool operator<(const EncodableValue& a, const EncodableValue& b) {
  return Compare(a, b) < 0;
}

}  // namespace flutter
