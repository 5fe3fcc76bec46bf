#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One network interface with its IPv4 configuration.
struct TAdaptorInfo {
  std::string AdapterName;
  std::string Description;
  std::string MacText;
  uint32_t IfIndex = 0;
  uint32_t IfType = 0; // ARPHRD_* type of the interface
  uint32_t DhcpEnabled = 0;
  std::string CurrentAddress;
  std::string CurrentMask;
  int32_t AddressCount = 0;
  std::vector<std::string> Addresses;
  std::vector<std::string> Masks;
  int32_t GatewayCount = 0;
  std::vector<std::string> Gateways;
  int32_t DhcpServerCount = 0;
  std::vector<std::string> DhcpServers;
  int32_t PrimaryWinsCount = 0;
  std::vector<std::string> PrimaryWins;
  int32_t SecondaryWinsCount = 0;
  std::vector<std::string> SecondaryWins;
  int32_t LeaseObtained = 0;
  int32_t LeaseExpires = 0;
  uint32_t AutoconfigEnabled = 0;
  uint32_t AutoconfigActive = 0;
  std::string CurrentDnsServer;
  int32_t DnsServerCount = 0;
  std::vector<std::string> DnsServers;
};

using TAdaptorRows = std::vector<TAdaptorInfo>;

// The address text of an adapter without one.
inline constexpr const char *kNoAddressText = "  0.  0.  0.  0";

// Every interface the system lists, in interface index order. Returns 0, or
// the errno of a failed enumeration (count and rows then untouched).
int32_t GetAdapterRows(int32_t &count, TAdaptorRows &rows);
// "00-1A-2B-3C-4D-5E"; "00-00-00-00-00-00" for a length of 0.
std::string MacToText(const uint8_t *address, int length);
