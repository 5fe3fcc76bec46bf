/* Reads a DNS message (RFC 1035 section 4) and sums it up in one line of text. */
#ifndef LTDNS_DNS_MESSAGE_H
#define LTDNS_DNS_MESSAGE_H

#include <stddef.h>
#include <stdint.h>

/* Room for one summary line. Enough for a few questions and addresses; longer
   summaries are cut and end in "...". */
#define DNS_SUMMARY_SIZE 2048

/* Room for one name in presentation form: at most 255 octets on the wire, each
   octet written as at most four characters (\DDD), plus the terminating zero. */
#define DNS_NAME_TEXT_SIZE 1024

/* The one reader of message bytes: every read is checked against len, and the
   first read that does not fit clears ok for good (reads then return 0). */
typedef struct DnsReader {
  const uint8_t *data;
  size_t len;
  size_t pos;
  int ok;
} DnsReader;

void DnsReaderInit(DnsReader *reader, const uint8_t *data, size_t len);
uint8_t DnsReadU8(DnsReader *reader);
uint16_t DnsReadU16(DnsReader *reader);
uint32_t DnsReadU32(DnsReader *reader);
void DnsSkip(DnsReader *reader, size_t count);

/* Reads the name at the reader's position, following compression pointers, and
   writes it as text ("." for the root) into out (DNS_NAME_TEXT_SIZE bytes).
   The reader moves past the name as it appears in place. Returns 1, or 0 (and
   clears ok) for a malformed name. */
int DnsReadName(DnsReader *reader, char *out);

/* Writes the summary of the message into out (DNS_SUMMARY_SIZE bytes, always
   zero-terminated). Returns 1, or 0 when the message is malformed. */
int DnsDescribeMessage(const uint8_t *message, size_t len, char *out);

#endif /* LTDNS_DNS_MESSAGE_H */
