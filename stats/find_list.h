#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Orders two items: negative, 0 or positive. TFindList always passes the
// list's item first and the searched item second.
using TFindCompare = int (*)(const void *listItem, const void *searched);

// Compares `n` bytes as unsigned values; the first differing byte decides.
// 0 when all are equal or `n` is 0 or less.
int CompareBytes(const void *a, const void *b, int32_t n);

// A list of pointers that its users keep in the order of a compare function
// and search by bisection.
class TFindList {
public:
  // Whether AddSorted keeps the order; false until the user sets it.
  bool Sorted = false;

  int32_t Count() const { return int32_t(items_.size()); }
  int32_t Capacity() const { return int32_t(items_.capacity()); }
  void SetCapacity(int32_t capacity); // never drops items
  const void *Items(int32_t index) const { return items_.at(size_t(index)); }
  int32_t Add(const void *item); // appends; returns the new item's index
  void Insert(int32_t index, const void *item);
  void Clear() { items_.clear(); }
  void Sort(TFindCompare cmp);

  // Bisection for `item`. `index` receives the position of an equal item, or
  // where `item` would keep the order when there is none.
  bool Find(const void *item, TFindCompare cmp, int32_t &index) const;
  // Inserts `item` where it keeps the order (at the end when not Sorted) and
  // returns its index; an item equal to one already present is not added.
  int32_t AddSorted(const void *item, TFindCompare cmp);

private:
  std::vector<const void *> items_;
};
