// Any UDP payload on port 53: the DNS handler writes exactly one item, and that
// item is printable text of bounded length.
#include "filters/plugin_api/vantor_plugin.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

extern "C" int32_t FL_PrintDns(const void *data, int32_t size, TOutputProc output);

namespace {

// Well above the handler's own cut, so an item that reaches it lost its end.
constexpr size_t kMaxItemLen = 4096;
int gItemCount = 0;

void checkItem(const char *text) {
  if (text == nullptr)
    abort();
  const size_t len = strnlen(text, kMaxItemLen);
  if (len == 0 || len == kMaxItemLen)
    abort();
  for (size_t i = 0; i < len; i++) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c > 0x7E)
      abort();
  }
  gItemCount++;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > 65507) // the largest UDP payload over IPv4
    return 0;
  // Exactly the message's bytes plus the host's trailing zero, so that any read
  // past the end is caught.
  std::unique_ptr<uint8_t[]> payload(new uint8_t[size + 1]);
  if (size > 0)
    memcpy(payload.get(), data, size);
  payload[size] = 0;

  TFilterPacket packet{};
  packet.FrameLen = static_cast<int32_t>(size + 42);
  packet.EtherType = 2048;
  packet.IpProto = 17;
  packet.SrcPort = 53;
  packet.DstPort = 40000;
  packet.PayloadLen = static_cast<int32_t>(size);
  packet.Payload = payload.get();

  gItemCount = 0;
  FL_PrintDns(&packet, sizeof packet, checkItem);
  if (gItemCount != 1)
    abort();
  return 0;
}
