/*
 * Vantor plug-in interface.
 *
 * A plug-in is a shared library named "LT*.so" placed beside the Vantor
 * executable. Vantor loads it at start-up and asks it, through three exported
 * functions, for a description and for the output handlers it offers; each
 * handler is one more exported function. A filter's handlers are called for
 * every packet that passes the filter and write text items into the Data View
 * through the output callback they are given.
 *
 * Compile against this header alone, in C or C++, and export the functions
 * with C linkage (the header declares them so). Example:
 *   cc -shared -fPIC -o LTMine.so mine.c
 *
 * Rules:
 *  - Text is zero-terminated 8-bit (UTF-8) text.
 *  - Description buffers are VANTOR_PLUGIN_TEXT_SIZE (512) bytes; always write
 *    the terminating zero inside them. Vantor reads up to the first zero, and
 *    never past the buffer's end.
 *  - A handler receives either a packet (size == sizeof(TFilterPacket), 64) or
 *    a notification (size == 8, data is "CAPSTAT" or "CAPSTOP"). It may call
 *    the output callback only during that call and only on that thread; the
 *    record and its payload belong to Vantor and are valid only during the call.
 *  - Handlers run on Vantor's capture thread while Vantor holds its locks:
 *    keep them fast and never block.
 */
#ifndef VANTOR_PLUGIN_H
#define VANTOR_PLUGIN_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VANTOR_PLUGIN_TEXT_SIZE 512

/* Notification texts (size 8 including the terminating zero). */
#define VANTOR_NOTIFY_CAPSTAT "CAPSTAT" /* a capture has started */
#define VANTOR_NOTIFY_CAPSTOP "CAPSTOP" /* a capture stopped, or the filter is being replaced */
#define VANTOR_NOTIFY_SIZE 8

/* The packet as a handler sees it: 64 bytes, little-endian. */
typedef struct TFilterPacket {
  int32_t FrameLen;       /*  0: length as an Ethernet frame */
  uint16_t EtherType;     /*  4: host byte order; 2048 for IPv4 */
  uint8_t SrcMac[6];      /*  6: zero from the raw-socket engine */
  uint8_t DstMac[6];      /* 12 */
  uint8_t Reserved18[2];  /* 18 */
  uint32_t SrcAddr;       /* 20: network byte order (first octet first) */
  uint32_t DstAddr;       /* 24 */
  int32_t SrcPort;        /* 28: TCP/UDP only, host byte order */
  int32_t DstPort;        /* 32 */
  uint8_t IpProto;        /* 36: 1 ICMP, 6 TCP, 17 UDP, ... */
  uint8_t Reserved37;     /* 37 */
  uint16_t TcpFlagWord;   /* 38: TCP header bytes 12-13, host byte order */
  uint8_t IsSend;         /* 40: 1 when this host sent the packet */
  uint8_t IcmpMsgType;    /* 41 */
  uint8_t Reserved42[2];  /* 42 */
  int32_t PayloadLen;     /* 44: may be negative for a malformed packet */
  double CaptureTime;     /* 48: days since 1899-12-30, local time */
  const uint8_t *Payload; /* 56: PayloadLen bytes followed by one zero byte; never null */
} TFilterPacket;

/* Appends one item to the Data View queue: a line of text (it may contain
   line breaks) or a tag: "<B>", "<I>", "<U>", or "<C>" followed by a colour
   number blue*65536 + green*256 + red. Vantor copies the text. */
typedef void (*TOutputProc)(const char *text);

/* A handler. Returns 0 (the result is ignored). */
typedef int32_t (*TFilterProc)(const void *data, int32_t size, TOutputProc output);

/* The three functions every plug-in exports. */
int32_t GetDLLDesVersion(char *description /* VANTOR_PLUGIN_TEXT_SIZE bytes */);
int32_t GetFilterCount(void);
int32_t GetFilterDesc(int32_t index, char *description /* 512 bytes */,
                      char *exportName /* 512 bytes: the handler's exported name */);

#ifdef __cplusplus
}
#endif

/* The layout is part of the contract. */
#ifdef __cplusplus
#define VANTOR_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define VANTOR_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif
VANTOR_STATIC_ASSERT(sizeof(TFilterPacket) == 64, "TFilterPacket is 64 bytes");
VANTOR_STATIC_ASSERT(offsetof(TFilterPacket, FrameLen) == 0, "FrameLen at 0");
VANTOR_STATIC_ASSERT(offsetof(TFilterPacket, EtherType) == 4, "EtherType at 4");
VANTOR_STATIC_ASSERT(offsetof(TFilterPacket, SrcMac) == 6, "SrcMac at 6");
VANTOR_STATIC_ASSERT(offsetof(TFilterPacket, DstMac) == 12, "DstMac at 12");
VANTOR_STATIC_ASSERT(offsetof(TFilterPacket, SrcAddr) == 20, "SrcAddr at 20");
VANTOR_STATIC_ASSERT(offsetof(TFilterPacket, DstAddr) == 24, "DstAddr at 24");
VANTOR_STATIC_ASSERT(offsetof(TFilterPacket, SrcPort) == 28, "SrcPort at 28");
VANTOR_STATIC_ASSERT(offsetof(TFilterPacket, DstPort) == 32, "DstPort at 32");
VANTOR_STATIC_ASSERT(offsetof(TFilterPacket, IpProto) == 36, "IpProto at 36");
VANTOR_STATIC_ASSERT(offsetof(TFilterPacket, TcpFlagWord) == 38, "TcpFlagWord at 38");
VANTOR_STATIC_ASSERT(offsetof(TFilterPacket, IsSend) == 40, "IsSend at 40");
VANTOR_STATIC_ASSERT(offsetof(TFilterPacket, IcmpMsgType) == 41, "IcmpMsgType at 41");
VANTOR_STATIC_ASSERT(offsetof(TFilterPacket, PayloadLen) == 44, "PayloadLen at 44");
VANTOR_STATIC_ASSERT(offsetof(TFilterPacket, CaptureTime) == 48, "CaptureTime at 48");
VANTOR_STATIC_ASSERT(offsetof(TFilterPacket, Payload) == 56, "Payload at 56");
#undef VANTOR_STATIC_ASSERT

#endif /* VANTOR_PLUGIN_H */
