#include "filters/builtin_handlers.h"

#include "filters/handler_table.h"

#include "packet/names.h"
#include "packet/text_format.h"

#include <array>
#include <cstring>
#include <string>
#include <string_view>

namespace {

constexpr uint16_t kEtherTypeIPv4 = 2048;
constexpr uint8_t kIpProtoIcmp = 1;
constexpr char kHeaderColour[] = "<C>8388608"; // dark blue

// The record of a packet call, or false when the call carries no whole record.
// Copied out because the caller's pointer need not be aligned for the record.
bool readPacket(const void *data, int32_t size, TFilterPacket &packet) {
  if (data == nullptr || size != int32_t(sizeof(TFilterPacket)) || IsNotification(data, size))
    return false;
  std::memcpy(&packet, data, sizeof packet);
  return true;
}

void toLowerAscii(std::string &text) {
  for (char &c : text)
    if (c >= 'A' && c <= 'Z')
      c = char(c - 'A' + 'a');
}

// printf's "%-Ns": at least `width` characters, blanks on the right, never cut.
void appendPadded(std::string &out, std::string_view text, size_t width) {
  out += text;
  if (text.size() < width)
    out.append(width - text.size(), ' ');
}

std::string endpointText(uint32_t addr, int32_t port) {
  std::string text = AddrToText(addr);
  text += ':';
  text += std::to_string(port);
  return text;
}

std::string macText(const uint8_t (&mac)[6]) {
  std::array<uint8_t, 6> bytes;
  std::memcpy(bytes.data(), mac, bytes.size());
  return EtherAddrText(bytes);
}

std::string headerLine(const TFilterPacket &p) {
  std::string kind, source, destination, detail, flags;
  if (p.EtherType == kEtherTypeIPv4) {
    source = endpointText(p.SrcAddr, p.SrcPort);
    destination = endpointText(p.DstAddr, p.DstPort);
    kind = IPProtoName(p.IpProto);
    if (p.IpProto == kIpProtoIcmp) {
      detail = IcmpTypeName(p.IcmpMsgType);
    } else {
      // Flags only tell something when there is no data to show.
      if (p.PayloadLen == 0)
        flags = TcpFlagsText(uint8_t(p.TcpFlagWord & 0xFF));
      detail = PortPairName(p.SrcPort, p.DstPort);
    }
    toLowerAscii(detail);
  } else {
    kind = EtherProtoName(p.EtherType);
    source = macText(p.SrcMac);
    destination = macText(p.DstMac);
  }

  std::string line;
  line.reserve(96);
  appendPadded(line, TimeOfDayText(p.CaptureTime), 12);
  line += ' ';
  appendPadded(line, kind, 4);
  line += " PackLen=";
  line += std::to_string(p.FrameLen);
  line += ' ';
  line += source;
  line += " -> ";
  line += destination;
  line += ' ';
  line += detail;
  line += " Len=";
  line += std::to_string(p.PayloadLen);
  line += ' ';
  line += flags;
  return line;
}

} // namespace

bool IsNotification(const void *data, int32_t size) {
  if (data == nullptr || size != VANTOR_NOTIFY_SIZE)
    return false;
  // Eight bytes including the terminating zero: equal bytes mean equal texts.
  return std::memcmp(data, VANTOR_NOTIFY_CAPSTAT, VANTOR_NOTIFY_SIZE) == 0 ||
         std::memcmp(data, VANTOR_NOTIFY_CAPSTOP, VANTOR_NOTIFY_SIZE) == 0;
}

extern "C" {

int32_t FL_PrintStdHead(const void *data, int32_t size, TOutputProc output) {
  TFilterPacket packet;
  if (output == nullptr || !readPacket(data, size, packet))
    return 0;
  const std::string line = headerLine(packet);
  output("<B>");
  output(kHeaderColour);
  output(line.c_str());
  return 0;
}

int32_t FL_DumpMessage(const void *data, int32_t size, TOutputProc output) {
  TFilterPacket packet;
  if (output == nullptr || !readPacket(data, size, packet))
    return 0;
  const std::string dump =
      packet.Payload == nullptr ? std::string() : HexDumpText(packet.Payload, packet.PayloadLen);
  output(dump.c_str());
  return 0;
}

int32_t FL_PrintTextMessage(const void *data, int32_t size, TOutputProc output) {
  TFilterPacket packet;
  if (output == nullptr || !readPacket(data, size, packet))
    return 0;
  std::string text = "[";
  if (packet.Payload != nullptr && packet.PayloadLen > 0) {
    const char *bytes = reinterpret_cast<const char *>(packet.Payload);
    std::string body(bytes, strnlen(bytes, size_t(packet.PayloadLen)));
    MakePrintable(body);
    text += body;
  }
  text += ']';
  output(text.c_str());
  return 0;
}

} // extern "C"

void RegisterBuiltinHandlers() {
  AddFilterProc({FL_PrintStdHead, "Internal", "FL_PrintStdHead", "Print IP Header"});
  AddFilterProc({FL_DumpMessage, "Internal", "FL_DumpMessage", "Dump IP Package"});
  AddFilterProc({FL_PrintTextMessage, "Internal", "FL_PrintTextMessage", "Print Text Package"});
}
