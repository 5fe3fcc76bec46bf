#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

// The remembered (destination address, destination port) pairs of a filter,
// kept as the texts the filter shows (dotted address, decimal port) in the
// order they were learnt, with an index so a packet's test costs one hash
// look-up however many pairs there are.
class TReturnPairs {
public:
  bool Contains(uint32_t addr, int32_t port) const;
  // Appends the pair unless it is already remembered.
  void Remember(uint32_t addr, int32_t port);
  const std::vector<std::string> &RetIPs() const { return ips_; }
  const std::vector<std::string> &RetPorts() const { return ports_; }
  size_t size() const { return ips_.size(); }

private:
  std::vector<std::string> ips_;
  std::vector<std::string> ports_;
  std::unordered_set<uint64_t> index_;
};
