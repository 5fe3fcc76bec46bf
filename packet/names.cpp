#include "packet/names.h"

#include "packet/port_names.h"

#include <array>
#include <charconv>
#include <cstddef>
#include <span>

// Defined constexpr so the port index below can be built from the table at
// compile time; the extern declarations in the header give them linkage, and
// a row count that differs from the header's bound does not compile.
constexpr TEtherProto EtherProtos[] = {
    {0x0200, "PUP"},  {0x0600, "XNS"},  {0x0800, "IP"},   {0x0806, "ARP"},  {0x0835, "RARP"},
    {0x6007, "SCA"},  {0x809B, "ATLK"}, {0x80F3, "AARP"}, {0x8137, "IPX"},  {0x8138, "NOVL"},
    {0x814C, "SNMP"}, {0x86DD, "IPV6"}, {0x88AD, "XIMT"}, {0x900D, "LOOP"},
};

constexpr TIPProto IPProtos[] = {
    {0, "IP"}, {1, "ICMP"}, {2, "IGMP"}, {6, "TCP"}, {17, "UDP"}, {128, "ISO-IP"},
};

constexpr TWellKnownSvc WellKnownSvcs[] = {
    {0, "LOOPBACK"},       {1, "TCPMUX"},         {7, "ECHO"},           {9, "DISCARD"},
    {13, "DAYTIME"},       {17, "QOTD"},          {19, "CHARGEN"},       {20, "FTP_DATA"},
    {21, "FTP_CTL"},       {22, "SSH"},           {23, "TELNET"},        {25, "SMTP"},
    {37, "TIME"},          {42, "NAME"},          {43, "WHOIS"},         {53, "DNS"},
    {66, "SQL*NET"},       {67, "BOOTPS"},        {68, "BOOTPC"},        {69, "TFTP"},
    {70, "GOPHER"},        {79, "FINGER"},        {80, "HTTP"},          {88, "KERBEROS"},
    {92, "NPP"},           {93, "DCP"},           {109, "POP2"},         {110, "POP3"},
    {111, "SUNRPC"},       {119, "NNTP"},         {123, "NTP"},          {135, "LOCSVC"},
    {137, "NETBIOS-NAME"}, {138, "NETBIOS-DATA"}, {139, "NETBIOS-SESS"}, {161, "SNMP"},
    {162, "SNMPTRAP"},     {220, "IMAP3"},        {443, "HTTPS"},        {445, "MS-DS-SMB"},
    {514, "SYSLOG"},       {520, "ROUTER"},       {1433, "MSSQLSRV"},    {1434, "MSSQLMON"},
    {3306, "MYSQL"},       {5900, "VNC"},
};

namespace {

struct NumberName {
  int32_t Number;
  std::string_view Name;
};

// "DEST-UNREA" is cut to ten characters on purpose; the texts are shown as they are.
constexpr NumberName kIcmpTypes[] = {
    {0, "ECHO_REPLY"},  {3, "DEST-UNREA"}, {4, "SRC_Q"},       {5, "REDIR"},
    {8, "ECHO"},        {11, "TTLX"},      {12, "BADPAR"},     {13, "TIME"},
    {14, "TIME_REPLY"}, {15, "INFO"},      {16, "INFO_REPLY"},
};

// In the order the flags are written (RFC 793 and RFC 3168 bit order).
constexpr NumberName kTcpFlags[] = {
    {0x01, "FIN"}, {0x02, "SYN"}, {0x04, "RST"}, {0x08, "PSH"},
    {0x10, "ACK"}, {0x20, "URG"}, {0x40, "ECH"}, {0x80, "CWR"},
};

// The one search over the {number, name} tables; empty when the number has no row.
template <typename Row>
constexpr std::string_view findName(std::span<const Row> rows, int32_t number) {
  for (const Row &row : rows)
    if (row.Number == number)
      return row.Name;
  return {};
}

// Port lookups run for every conversation on every refresh, so the port table
// is not searched per call: this index maps a port straight to its first row
// in WellKnownSvcs. Row indexes double as the table order for port pairs.
constexpr uint8_t kNoRow = 0xFF;

constexpr size_t portIndexSize() {
  int32_t highest = 0;
  for (const TWellKnownSvc &row : WellKnownSvcs)
    highest = row.Number > highest ? row.Number : highest;
  return size_t(highest) + 1;
}

constexpr auto kPortRows = [] {
  static_assert(std::size(WellKnownSvcs) < kNoRow, "row indexes must fit below kNoRow");
  std::array<uint8_t, portIndexSize()> rows{};
  for (uint8_t &row : rows)
    row = kNoRow;
  for (size_t i = 0; i < std::size(WellKnownSvcs); ++i) {
    uint8_t &slot = rows[size_t(WellKnownSvcs[i].Number)];
    if (slot == kNoRow)
      slot = uint8_t(i);
  }
  return rows;
}();

static_assert(kPortRows[80] < kPortRows[443], "port pairs rely on the table order");

uint8_t builtinPortRow(int32_t port) {
  // The unsigned compare also turns negative ports away.
  return uint32_t(port) < kPortRows.size() ? kPortRows[uint32_t(port)] : kNoRow;
}

std::string bracketed(int32_t port) {
  char text[16];
  text[0] = '<';
  char *end = std::to_chars(text + 1, text + sizeof text - 1, port).ptr;
  *end++ = '>';
  return std::string(text, end);
}

} // namespace

std::string EtherProtoName(uint16_t etherType) {
  std::string_view name = findName<TEtherProto>(EtherProtos, etherType);
  if (!name.empty())
    return std::string(name);
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  std::string text(4, '0');
  for (int i = 3; i >= 0; --i) {
    text[size_t(i)] = kHexDigits[etherType & 0xF];
    etherType = uint16_t(etherType >> 4);
  }
  return text;
}

std::string IPProtoName(int32_t protocol) {
  std::string_view name = findName<TIPProto>(IPProtos, protocol);
  return name.empty() ? std::to_string(protocol) : std::string(name);
}

std::string IcmpTypeName(uint16_t icmpType) {
  std::string_view name = findName<NumberName>(kIcmpTypes, icmpType);
  return std::string(name.empty() ? std::string_view("UNKNOWN") : name);
}

std::string PortName(int32_t port) {
  // Port 0 never reaches the file, so "LOOPBACK" always applies to it.
  const std::string &fromFile = FilePortName(port);
  if (!fromFile.empty())
    return fromFile;
  uint8_t row = builtinPortRow(port);
  if (row != kNoRow)
    return std::string(WellKnownSvcs[row].Name);
  return bracketed(port);
}

std::string PortPairName(int32_t srcPort, int32_t dstPort) {
  // The user's file names the service; the destination usually is the server side.
  const std::string &dstFromFile = FilePortName(dstPort);
  if (!dstFromFile.empty())
    return dstFromFile;
  const std::string &srcFromFile = FilePortName(srcPort);
  if (!srcFromFile.empty())
    return srcFromFile;
  // Built-in names go by table order, not by direction, so both directions of
  // a conversation get the same name; kNoRow sorts after every row.
  uint8_t srcRow = builtinPortRow(srcPort);
  uint8_t dstRow = builtinPortRow(dstPort);
  uint8_t row = srcRow < dstRow ? srcRow : dstRow;
  if (row != kNoRow)
    return std::string(WellKnownSvcs[row].Name);
  // An unnamed reserved port is more telling than an ephemeral one.
  return bracketed(srcPort < 1024 ? srcPort : dstPort);
}

std::string TcpFlagsText(uint8_t flags) {
  std::string text;
  for (const NumberName &flag : kTcpFlags) {
    if ((flags & flag.Number) != 0) {
      text += flag.Name;
      text += ' ';
    }
  }
  if (!text.empty())
    text.pop_back();
  return text;
}
