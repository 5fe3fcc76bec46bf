#include "capture/adapter_sources.h"

#include "packet/text_format.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <fstream>
#include <sstream>

namespace {

// Splits text into lines and lines into blank-separated fields without
// allocating per field.
class FieldSplitter {
public:
  explicit FieldSplitter(std::string_view text) : rest_(text) {}

  bool nextLine(std::string_view &line) {
    if (rest_.empty())
      return false;
    const size_t end = rest_.find('\n');
    line = rest_.substr(0, end);
    rest_.remove_prefix(end == std::string_view::npos ? rest_.size() : end + 1);
    return true;
  }

  static std::vector<std::string_view> fields(std::string_view line) {
    std::vector<std::string_view> out;
    const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    size_t i = 0;
    while (i < line.size()) {
      while (i < line.size() && isBlank(line[i]))
        ++i;
      const size_t start = i;
      while (i < line.size() && !isBlank(line[i]))
        ++i;
      if (i > start)
        out.push_back(line.substr(start, i - start));
    }
    return out;
  }

private:
  std::string_view rest_;
};

// /proc/net/route columns (net/ipv4/fib_trie.c, fib_route_seq_show).
constexpr size_t kRouteIface = 0;
constexpr size_t kRouteGateway = 2;

} // namespace

std::string ReadTextFile(const std::string &path) {
  // Read through the stream rather than by size: /proc files report size 0.
  std::ifstream file(path, std::ios::binary);
  if (!file)
    return {};
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

std::vector<std::string> ParseRouteGateways(std::string_view routeText,
                                            std::string_view interfaceName) {
  std::vector<std::string> gateways;
  FieldSplitter lines(routeText);
  std::string_view line;
  while (lines.nextLine(line)) {
    const auto fields = FieldSplitter::fields(line);
    if (fields.size() <= kRouteGateway || fields[kRouteIface] != interfaceName)
      continue;
    // The kernel prints the network-order address as the native 32-bit value
    // it holds, so reading the hex back gives that same value: the address
    // exactly as it lies in memory, whatever the host's byte order.
    const std::string_view hex = fields[kRouteGateway];
    uint32_t gateway = 0;
    const auto [end, error] = std::from_chars(hex.data(), hex.data() + hex.size(), gateway, 16);
    if (error != std::errc() || end != hex.data() + hex.size() || gateway == 0)
      continue;
    std::string text = AddrToText(gateway);
    // One gateway often serves several routes; list it once.
    if (std::find(gateways.begin(), gateways.end(), text) == gateways.end())
      gateways.push_back(std::move(text));
  }
  return gateways;
}

std::vector<std::string> ParseNameServers(std::string_view resolvText) {
  std::vector<std::string> servers;
  FieldSplitter lines(resolvText);
  std::string_view line;
  while (lines.nextLine(line)) {
    const auto fields = FieldSplitter::fields(line);
    if (fields.size() < 2 || fields[0] != "nameserver")
      continue;
    // inet_pton is strict: IPv6 servers and scoped or malformed entries are
    // not IPv4 servers and are left out.
    const std::string candidate(fields[1]);
    in_addr addr{};
    if (inet_pton(AF_INET, candidate.c_str(), &addr) == 1)
      servers.push_back(AddrToText(addr.s_addr));
  }
  return servers;
}
