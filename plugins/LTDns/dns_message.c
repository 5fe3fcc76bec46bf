#include "dns_message.h"

#include <stdio.h>
#include <string.h>

/* RFC 1035 2.3.4: labels of at most 63 octets, names of at most 255 octets on
   the wire (length octets and the final zero included). */
#define DNS_MAX_NAME_OCTETS 255u
/* A name has at most 127 labels, so an honest name never needs more jumps; the
   limit is what stops a pointer loop that adds no labels. */
#define DNS_MAX_POINTER_HOPS 127
#define DNS_HEADER_SIZE 12u
/* Smallest records on the wire: a root name and the fixed fields. */
#define DNS_MIN_QUESTION_SIZE 5u
#define DNS_MIN_RECORD_SIZE 11u

#define DNS_TYPE_A 1u
#define DNS_CLASS_IN 1u

void DnsReaderInit(DnsReader *reader, const uint8_t *data, size_t len) {
  reader->data = data;
  reader->len = len;
  reader->pos = 0;
  reader->ok = 1;
}

/* True when count more bytes are present; otherwise the reader is spent. */
static int dnsHave(DnsReader *reader, size_t count) {
  if (reader->ok && count <= reader->len - reader->pos)
    return 1;
  reader->ok = 0;
  return 0;
}

uint8_t DnsReadU8(DnsReader *reader) {
  if (!dnsHave(reader, 1))
    return 0;
  return reader->data[reader->pos++];
}

uint16_t DnsReadU16(DnsReader *reader) {
  if (!dnsHave(reader, 2))
    return 0;
  const uint8_t *p = reader->data + reader->pos;
  reader->pos += 2;
  return (uint16_t)((p[0] << 8) | p[1]);
}

uint32_t DnsReadU32(DnsReader *reader) {
  uint32_t high = DnsReadU16(reader);
  uint32_t low = DnsReadU16(reader);
  return (high << 16) | low;
}

void DnsSkip(DnsReader *reader, size_t count) {
  if (dnsHave(reader, count))
    reader->pos += count;
}

/* Presentation form of RFC 1035 5.1: a byte that is not plain printable text,
   or that would be read as a separator ('.', '\\'), becomes \DDD so that the
   item stays printable and unambiguous. */
static size_t dnsAppendLabelByte(char *out, size_t at, uint8_t byte) {
  if (byte > 0x20 && byte < 0x7F && byte != '.' && byte != '\\') {
    out[at] = (char)byte;
    return at + 1;
  }
  out[at] = '\\';
  out[at + 1] = (char)('0' + byte / 100);
  out[at + 2] = (char)('0' + byte / 10 % 10);
  out[at + 3] = (char)('0' + byte % 10);
  return at + 4;
}

int DnsReadName(DnsReader *reader, char *out) {
  size_t pos = reader->pos;
  size_t resume = 0; /* where the reader goes on after the first pointer */
  int hops = 0;
  size_t octets = 1; /* the final zero */
  size_t textLen = 0;
  out[0] = '\0';
  if (!reader->ok)
    return 0;
  for (;;) {
    if (pos >= reader->len)
      goto malformed;
    uint8_t lenByte = reader->data[pos];
    if ((lenByte & 0xC0) == 0xC0) {
      /* RFC 1035 4.1.4: a 14-bit offset from the start of the message. */
      if (reader->len - pos < 2)
        goto malformed;
      size_t target = ((size_t)(lenByte & 0x3F) << 8) | reader->data[pos + 1];
      if (target >= reader->len || ++hops > DNS_MAX_POINTER_HOPS)
        goto malformed;
      if (hops == 1)
        resume = pos + 2;
      pos = target;
      continue;
    }
    /* 0x40 and 0x80 are the extended and reserved label types (RFC 6891 5),
       and as lengths they would exceed 63. */
    if (lenByte & 0xC0)
      goto malformed;
    pos++;
    if (lenByte == 0)
      break;
    octets += 1u + lenByte;
    if (octets > DNS_MAX_NAME_OCTETS || lenByte > reader->len - pos)
      goto malformed;
    /* 255 octets give at most 4 * 254 characters: out always has room. */
    if (textLen > 0)
      out[textLen++] = '.';
    for (size_t i = 0; i < lenByte; i++)
      textLen = dnsAppendLabelByte(out, textLen, reader->data[pos + i]);
    pos += lenByte;
  }
  if (textLen == 0)
    out[textLen++] = '.';
  out[textLen] = '\0';
  reader->pos = hops > 0 ? resume : pos;
  return 1;

malformed:
  out[0] = '\0';
  reader->ok = 0;
  return 0;
}

typedef struct DnsNumberName {
  unsigned number;
  const char *name;
} DnsNumberName;

static const DnsNumberName kDnsTypeNames[] = {
    {1, "A"},   {2, "NS"},   {5, "CNAME"}, {6, "SOA"},  {12, "PTR"},
    {15, "MX"}, {16, "TXT"}, {28, "AAAA"}, {33, "SRV"}, {255, "ANY"},
};

static const DnsNumberName kDnsRcodeNames[] = {
    {1, "FORMERR"},  {2, "SERVFAIL"}, {3, "NXDOMAIN"}, {4, "NOTIMP"},  {5, "REFUSED"},
    {6, "YXDOMAIN"}, {7, "YXRRSET"},  {8, "NXRRSET"},  {9, "NOTAUTH"}, {10, "NOTZONE"},
};

static const char *dnsNumberName(const DnsNumberName *table, size_t count, unsigned number) {
  for (size_t i = 0; i < count; i++)
    if (table[i].number == number)
      return table[i].name;
  return NULL;
}

/* The summary under construction: pieces are added whole or, once one no
   longer fits, replaced by a final "..." after which nothing more is added. */
typedef struct DnsSummary {
  char *text;
  size_t len;
  int full;
} DnsSummary;

static void dnsAdd(DnsSummary *summary, const char *piece) {
  static const char kCut[] = "...";
  if (summary->full)
    return;
  size_t n = strlen(piece);
  if (n > DNS_SUMMARY_SIZE - sizeof kCut - summary->len) {
    memcpy(summary->text + summary->len, kCut, sizeof kCut);
    summary->len += sizeof kCut - 1;
    summary->full = 1;
    return;
  }
  memcpy(summary->text + summary->len, piece, n + 1);
  summary->len += n;
}

static void dnsAddType(DnsSummary *summary, unsigned type) {
  const char *name =
      dnsNumberName(kDnsTypeNames, sizeof kDnsTypeNames / sizeof kDnsTypeNames[0], type);
  char number[16];
  if (name == NULL) {
    snprintf(number, sizeof number, "TYPE%u", type);
    name = number;
  }
  dnsAdd(summary, name);
}

static void dnsAddRcode(DnsSummary *summary, unsigned rcode) {
  const char *name =
      dnsNumberName(kDnsRcodeNames, sizeof kDnsRcodeNames / sizeof kDnsRcodeNames[0], rcode);
  char text[48];
  if (name != NULL)
    snprintf(text, sizeof text, " rcode=%u (%s)", rcode, name);
  else
    snprintf(text, sizeof text, " rcode=%u", rcode);
  dnsAdd(summary, text);
}

/* Reads one resource record's fixed part and returns its data length, leaving
   the reader at the start of the data, which is known to be present. */
static uint16_t dnsReadRecordHead(DnsReader *reader, char *name, uint16_t *type, uint16_t *klass) {
  DnsReadName(reader, name);
  *type = DnsReadU16(reader);
  *klass = DnsReadU16(reader);
  DnsSkip(reader, 4); /* TTL */
  uint16_t dataLen = DnsReadU16(reader);
  dnsHave(reader, dataLen);
  return dataLen;
}

int DnsDescribeMessage(const uint8_t *message, size_t len, char *out) {
  DnsSummary summary = {out, 0, 0};
  char name[DNS_NAME_TEXT_SIZE];
  char piece[64];
  DnsReader reader;
  out[0] = '\0';
  DnsReaderInit(&reader, message, len);

  uint16_t id = DnsReadU16(&reader);
  uint16_t flags = DnsReadU16(&reader);
  size_t questions = DnsReadU16(&reader);
  size_t answers = DnsReadU16(&reader);
  size_t authorities = DnsReadU16(&reader);
  size_t additionals = DnsReadU16(&reader);
  if (!reader.ok)
    goto malformed;
  /* Counts the bytes cannot hold are refused before any record is read. */
  size_t minimum = questions * DNS_MIN_QUESTION_SIZE +
                   (answers + authorities + additionals) * DNS_MIN_RECORD_SIZE;
  if (minimum > len - DNS_HEADER_SIZE)
    goto malformed;

  int isResponse = (flags & 0x8000u) != 0;
  unsigned rcode = flags & 0x000Fu;
  snprintf(piece, sizeof piece, "DNS %s id=0x%04X", isResponse ? "answer" : "query", id);
  dnsAdd(&summary, piece);
  if (isResponse && rcode != 0)
    dnsAddRcode(&summary, rcode);

  for (size_t i = 0; i < questions; i++) {
    DnsReadName(&reader, name);
    uint16_t type = DnsReadU16(&reader);
    DnsSkip(&reader, 2); /* class */
    if (!reader.ok)
      goto malformed;
    dnsAdd(&summary, i == 0 ? " " : ", ");
    dnsAdd(&summary, name);
    dnsAdd(&summary, " ");
    dnsAddType(&summary, type);
  }
  if (questions == 0)
    dnsAdd(&summary, " (no questions)");

  if (isResponse)
    dnsAdd(&summary, " ->");
  size_t addresses = 0;
  for (size_t i = 0; i < answers; i++) {
    uint16_t type, klass;
    uint16_t dataLen = dnsReadRecordHead(&reader, name, &type, &klass);
    if (!reader.ok)
      goto malformed;
    if (isResponse && type == DNS_TYPE_A && klass == DNS_CLASS_IN) {
      if (dataLen != 4) /* RFC 1035 3.4.1: an A record is one 32-bit address */
        goto malformed;
      const uint8_t *a = reader.data + reader.pos;
      snprintf(piece, sizeof piece, "%s%u.%u.%u.%u", addresses == 0 ? " " : ", ", a[0], a[1], a[2],
               a[3]);
      dnsAdd(&summary, piece);
      addresses++;
    }
    DnsSkip(&reader, dataLen);
  }
  if (isResponse && addresses == 0)
    dnsAdd(&summary, " (no A records)");

  /* The other sections are not shown, but a message whose records do not fit
     its bytes is still reported as malformed. */
  for (size_t i = 0; i < authorities + additionals; i++) {
    uint16_t type, klass;
    uint16_t dataLen = dnsReadRecordHead(&reader, name, &type, &klass);
    DnsSkip(&reader, dataLen);
    if (!reader.ok)
      goto malformed;
  }
  return 1;

malformed:
  out[0] = '\0';
  return 0;
}
