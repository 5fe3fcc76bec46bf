#include "filters/return_pairs.h"

#include "packet/text_format.h"

namespace {

// The dotted text of an address and the decimal text of a port are each
// one-to-one, so equal numbers mean equal texts and the index can hold numbers.
uint64_t pairKey(uint32_t addr, int32_t port) {
  return uint64_t(addr) << 32 | uint32_t(port);
}

} // namespace

bool TReturnPairs::Contains(uint32_t addr, int32_t port) const {
  return index_.find(pairKey(addr, port)) != index_.end();
}

void TReturnPairs::Remember(uint32_t addr, int32_t port) {
  if (!index_.insert(pairKey(addr, port)).second)
    return;
  ips_.push_back(AddrToText(addr));
  ports_.push_back(std::to_string(port));
}
