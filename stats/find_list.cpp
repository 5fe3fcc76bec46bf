#include "stats/find_list.h"

#include <algorithm>
#include <cstring>

int CompareBytes(const void *a, const void *b, int32_t n) {
  // memcmp compares as unsigned char, which is exactly the order wanted.
  return n <= 0 ? 0 : std::memcmp(a, b, size_t(n));
}

void TFindList::SetCapacity(int32_t capacity) {
  if (capacity > Count())
    items_.reserve(size_t(capacity));
}

int32_t TFindList::Add(const void *item) {
  items_.push_back(item);
  return Count() - 1;
}

void TFindList::Insert(int32_t index, const void *item) {
  items_.insert(items_.begin() + index, item);
}

void TFindList::Sort(TFindCompare cmp) {
  std::sort(items_.begin(), items_.end(),
            [cmp](const void *a, const void *b) { return cmp(a, b) < 0; });
}

bool TFindList::Find(const void *item, TFindCompare cmp, int32_t &index) const {
  index = 0;
  if (items_.empty())
    return false;
  int32_t low = 0;
  int32_t high = Count() - 1;
  bool found = false;
  while (low <= high) {
    const int32_t mid = (low + high) / 2;
    const int r = cmp(items_[size_t(mid)], item);
    if (r < 0) {
      low = mid + 1;
    } else {
      high = mid - 1;
      if (r == 0) {
        found = true;
        low = mid;
      }
    }
  }
  index = low;
  return found;
}

int32_t TFindList::AddSorted(const void *item, TFindCompare cmp) {
  if (!Sorted)
    return Add(item);
  int32_t index = 0;
  if (!Find(item, cmp, index))
    Insert(index, item);
  return index;
}
