#pragma once
// Constant tables looked up by binary search (message texts, string
// resources): each checks at compile time that its keys ascend strictly,
//   static_assert(vn::IsStrictlyAscending(kTable, &Entry::id));
// and finds an entry with vn::FindSorted(kTable, &Entry::id, id).

#include <algorithm>
#include <cstddef>
#include <iterator>

namespace vn {

// True when every entry's key is greater than the one before it.
template <typename Entry, std::size_t N, typename Key>
constexpr bool IsStrictlyAscending(const Entry (&table)[N], Key Entry::*key) {
  return std::adjacent_find(std::begin(table), std::end(table),
                            [key](const Entry& a, const Entry& b) { return !(a.*key < b.*key); }) == std::end(table);
}

// The entry whose key is `value`, or nullptr.
template <typename Entry, std::size_t N, typename Key>
constexpr const Entry* FindSorted(const Entry (&table)[N], Key Entry::*key, const Key& value) {
  const Entry* it = std::lower_bound(std::begin(table), std::end(table), value,
                                     [key](const Entry& entry, const Key& v) { return entry.*key < v; });
  return it != std::end(table) && it->*key == value ? it : nullptr;
}

}  // namespace vn
