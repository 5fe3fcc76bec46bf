/* LTDns: a Vantor plug-in that writes one item per DNS message seen on UDP
   port 53: the questions of a query, or the questions and IPv4 addresses of an
   answer. */
#include <stdio.h>
#include <string.h>

#include "dns_message.h"
#include "vantor_plugin.h"

/* The library is built with hidden visibility; only these names are the
   plug-in's face to the host. */
#define LTDNS_EXPORT __attribute__((visibility("default")))

#define LTDNS_ETHERTYPE_IPV4 2048
#define LTDNS_PROTO_UDP 17
#define LTDNS_PORT 53

static const char kHandlerName[] = "FL_PrintDns";

LTDNS_EXPORT int32_t FL_PrintDns(const void *data, int32_t size, TOutputProc output);

LTDNS_EXPORT int32_t GetDLLDesVersion(char *description) {
  snprintf(description, VANTOR_PLUGIN_TEXT_SIZE, "LTDns 1.0 - DNS queries and answers");
  return 0;
}

LTDNS_EXPORT int32_t GetFilterCount(void) {
  return 1;
}

LTDNS_EXPORT int32_t GetFilterDesc(int32_t index, char *description, char *exportName) {
  if (index == 0) {
    snprintf(description, VANTOR_PLUGIN_TEXT_SIZE, "Print DNS queries and answers");
    snprintf(exportName, VANTOR_PLUGIN_TEXT_SIZE, "%s", kHandlerName);
  } else {
    description[0] = '\0';
    exportName[0] = '\0';
  }
  return 0;
}

LTDNS_EXPORT int32_t FL_PrintDns(const void *data, int32_t size, TOutputProc output) {
  /* Notifications (size 8) carry nothing to show. */
  if (data == NULL || output == NULL || size != (int32_t)sizeof(TFilterPacket))
    return 0;
  TFilterPacket packet;
  memcpy(&packet, data, sizeof packet);
  if (packet.EtherType != LTDNS_ETHERTYPE_IPV4 || packet.IpProto != LTDNS_PROTO_UDP ||
      (packet.SrcPort != LTDNS_PORT && packet.DstPort != LTDNS_PORT))
    return 0;

  char summary[DNS_SUMMARY_SIZE];
  if (packet.PayloadLen <= 0 || packet.Payload == NULL ||
      !DnsDescribeMessage(packet.Payload, (size_t)packet.PayloadLen, summary))
    output("malformed DNS message");
  else
    output(summary);
  return 0;
}
