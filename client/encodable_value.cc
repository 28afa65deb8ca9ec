#include "client/encodable_value.h"

#include <algorithm>

namespace flutter {
namespace {

// Same-kind comparison. Every case reduces to the element type's own
// less-than: std::string compares its bytes as unsigned values, floating
// values use IEEE ordered comparison (a NaN is never less), containers are
// lexicographic with a proper prefix ordering first, and map entries compare
// by key, then by value for equivalent keys.
struct SameKindLess {
  template <typename T>
  bool operator()(const T& a, const T& b) const {
    return a < b;
  }
  bool operator()(const std::monostate&, const std::monostate&) const {
    return false;
  }
  template <typename T>
  bool operator()(const std::vector<T>& a, const std::vector<T>& b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
  }
  bool operator()(const EncodableMap& a, const EncodableMap& b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        &EntryLess);
  }

 private:
  static bool EntryLess(const EncodableMap::value_type& x,
                        const EncodableMap::value_type& y) {
    if (x.first < y.first || y.first < x.first) {
      return x.first < y.first;
    }
    return x.second < y.second;
  }
};

}  // namespace

bool operator<(const EncodableValue& a, const EncodableValue& b) {
  if (a.index() != b.index()) {
    return a.index() < b.index();
  }
  return std::visit(
      [&b](const auto& content) {
        using Content = std::decay_t<decltype(content)>;
        return SameKindLess()(content, std::get<Content>(b));
      },
      static_cast<const EncodableValue::Variant&>(a));
}

}  // namespace flutter
