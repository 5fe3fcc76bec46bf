#include "filters/ip_filter.h"

#include "filters/return_pairs.h"
#include "packet/date_time.h"
#include "packet/names.h"
#include "packet/text_format.h"
#include "packet/text_separators.h"

#include <algorithm>
#include <cstring>

std::array<TIPFilter, kMaxIPFilters> IPFilters;
int32_t IPFilterCount = 0;

namespace {

constexpr uint8_t kIpProtoIcmp = 1;
constexpr uint8_t kEveryIcmpType = 254;
constexpr char kAnnounceColour[] = "<C>12632256"; // light grey

// Reads "d", "dd" or "ddd" up to 255 at `pos`; false for anything else.
bool readOctet(const std::string &text, size_t &pos, uint32_t &octet) {
  const size_t start = pos;
  octet = 0;
  while (pos < text.size() && pos - start < 3 && text[pos] >= '0' && text[pos] <= '9')
    octet = octet * 10 + uint32_t(text[pos++] - '0');
  return pos > start && octet <= 255;
}

bool protocolPasses(const TIPFilter &filter, const TFilterPacket &packet) {
  const auto &protos = filter.Protos;
  if (std::find(protos.begin(), protos.end(), packet.IpProto) == protos.end())
    return false;
  if (packet.IpProto != kIpProtoIcmp || filter.IcmpTypes[0] == kEveryIcmpType)
    return true;
  const auto &types = filter.IcmpTypes;
  return std::find(types.begin(), types.end(), packet.IcmpMsgType) != types.end();
}

// "yyyymmdd-hh:nn:ss.zzz - PROTO Package Got", the clock read now.
std::string announcement(uint8_t ipProto, bool isReturn) {
  const DateTimeFields t = DecodeDateTime(LocalNow());
  const std::string &separator = CurrentTextSeparators().time;
  std::string text;
  text.reserve(48);
  AppendZeroPadded(text, t.year, 4);
  AppendZeroPadded(text, t.month, 2);
  AppendZeroPadded(text, t.day, 2);
  text += '-';
  AppendZeroPadded(text, t.hour, 2);
  text += separator;
  AppendZeroPadded(text, t.minute, 2);
  text += separator;
  AppendZeroPadded(text, t.second, 2);
  text += '.';
  AppendZeroPadded(text, t.millisecond, 3);
  text += " - ";
  text += IPProtoName(ipProto);
  text += isReturn ? " Return Package Got" : " Package Got";
  return text;
}

} // namespace

void TAddrCondition::parse(const std::string &text) {
  text_ = text;
  parsed_ = true;
  canonical_ = false;
  addr_ = 0;
  uint8_t bytes[4];
  size_t pos = 0;
  for (int i = 0; i < 4; ++i) {
    if (i > 0 && (pos >= text.size() || text[pos++] != '.'))
      return;
    uint32_t octet = 0;
    if (!readOctet(text, pos, octet))
      return;
    bytes[i] = uint8_t(octet);
  }
  if (pos != text.size())
    return;
  uint32_t addr = 0;
  std::memcpy(&addr, bytes, sizeof addr);
  // Leading zeros ("010") read as a number but are not that number's dotted text.
  if (AddrToText(addr) != text)
    return;
  addr_ = addr;
  canonical_ = true;
}

bool RunFilter(TIPFilter &filter, const TFilterPacket &packet) {
  bool isReturn = false;
  if (filter.ReturnPkg == 1) {
    if (!filter.Returns)
      filter.Returns = std::make_shared<TReturnPairs>();
    isReturn = filter.Returns->Contains(packet.SrcAddr, packet.SrcPort);
  }

  // Return traffic of a remembered pair passes whatever the conditions say.
  if (!isReturn) {
    if (filter.AllProto != -1 && !protocolPasses(filter, packet))
      return false;
    if (!filter.SIP.empty() && !filter.SipTest_.Matches(filter.SIP, packet.SrcAddr))
      return false;
    if (!filter.DIP.empty() && !filter.DipTest_.Matches(filter.DIP, packet.DstAddr))
      return false;
    if (filter.SPort != 0 && packet.SrcPort != filter.SPort)
      return false;
    if (filter.DPort != 0 && packet.DstPort != filter.DPort)
      return false;
  }
  if (filter.IgZero == 1 && packet.PayloadLen == 0)
    return false;

  if (filter.OutProc != nullptr) {
    const std::string text = announcement(packet.IpProto, isReturn);
    filter.OutProc(" ");
    filter.OutProc(kAnnounceColour);
    filter.OutProc(text.c_str());
  }

  if (!isReturn && filter.ReturnPkg == 1)
    filter.Returns->Remember(packet.DstAddr, packet.DstPort);

  CallHandlers(filter, &packet, int32_t(sizeof packet));
  return true;
}

void FreeFilterLists() {
  for (TIPFilter &filter : IPFilters)
    filter.Returns.reset();
}
