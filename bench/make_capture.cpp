// Writes the capture file that bench/pipeline-vs-peers feeds to Vantor, tcpdump and tshark: one
// local host talking to about ten thousand remote conversations over TCP, UDP and ICMP, with a
// little ARP and IPv6 beside them. Every choice comes from one seeded generator of our own, so a
// frame count and a seed give the same bytes on every machine; the standard library's
// distributions give different numbers from one library version to the next.
//
// usage: make-capture N FILE [--seed S]
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace {

// ---- Deterministic choices ----------------------------------------------------------------

// splitmix64: tiny, fast, and fully defined by its seed.
class Random {
public:
  explicit Random(uint64_t seed) : state_(seed) {}

  uint64_t next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // 0 to n - 1, by the high half of a 128-bit product: no modulo bias worth the name and no
  // rejection loop, so the number of draws per call never varies.
  uint32_t below(uint32_t n) { return uint32_t((unsigned __int128)next() * n >> 64); }
  uint32_t between(uint32_t low, uint32_t high) { return low + below(high - low + 1); }
  bool percent(uint32_t p) { return below(100) < p; }

private:
  uint64_t state_;
};

// ---- Fixed facts of the generated network ---------------------------------------------------

constexpr std::array<uint8_t, 6> kLocalMac{0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
constexpr std::array<uint8_t, 6> kGatewayMac{0x02, 0x00, 0x00, 0x00, 0x00, 0xfe};
constexpr std::array<uint8_t, 6> kBroadcastMac{0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
constexpr uint32_t kLocalAddr = 0x0A000001;    // 10.0.0.1
constexpr uint32_t kGatewayAddr = 0x0A0000FE;  // 10.0.0.254
constexpr uint32_t kStartSeconds = 1704067200; // 2024-01-01 00:00:00 UTC

constexpr int kConversations = 10000;
// Sessions in flight at once; their frames interleave as on a busy link.
constexpr int kActiveSessions = 48;
// Client ports: above every port tshark ties to a protocol, so that a client port never makes
// it read random payload as some protocol's messages.
constexpr uint16_t kFirstClientPort = 61000;
constexpr uint16_t kLastClientPort = 65535;
constexpr uint16_t kMaxSegment = 1460;
constexpr size_t kMaxFrame = 14 + 40 + 8 + kMaxSegment + 64;

// Remote peers live in these /16s.
constexpr uint16_t kRemoteNets[] = {0x1720, 0x1F0D, 0x3454, 0x5DB8, 0x6810, 0x8EFA,
                                    0x9765, 0x9DF0, 0xACD9, 0xB9C7, 0xC7E8, 0xCB00};

enum Proto : uint8_t { kIcmp = 1, kTcp = 6, kUdp = 17 };

// Well-known services: TLS ones only, whose records a dissector can skip when their bytes are
// random; the rest of the few hundred are spread over a port range that carries no protocol
// tshark would insist on, so random payloads there read as plain data.
// Services this host offers are all below 1024: a monitor names a conversation after its remote
// port unless only the local side holds a well-known one, so a high local service port would
// make every inbound connection a conversation of its own.
constexpr uint16_t kTcpServices[] = {443, 465, 853, 993, 995, 5223, 8443};
constexpr size_t kLowTcpServices = 5; // the first ones, below 1024
constexpr uint16_t kUdpServices[] = {53};
constexpr int kOtherServices = 260;
constexpr uint16_t kOtherServiceBase = 15001;
constexpr uint16_t kOtherServiceStride = 37;

struct Conversation {
  uint32_t remote;
  uint16_t service; // 0 for ICMP
  uint8_t proto;
  bool inbound; // the remote side opens it
  uint8_t ttl;  // of the remote's packets as they reach us
};

uint16_t pickService(Random &random, uint8_t proto, bool inbound) {
  if (inbound)
    return proto == kTcp ? kTcpServices[random.below(kLowTcpServices)] : kUdpServices[0];
  if (random.percent(45)) {
    if (proto == kTcp)
      return kTcpServices[random.below(std::size(kTcpServices))];
    if (random.percent(70))
      return kUdpServices[random.below(std::size(kUdpServices))];
  }
  return uint16_t(kOtherServiceBase + kOtherServiceStride * random.below(kOtherServices));
}

// Distinct (remote, service, protocol) triples; about a third reuse an earlier peer, as hosts
// that offer several services do.
std::vector<Conversation> makeConversations(Random &random) {
  std::vector<Conversation> table;
  table.reserve(kConversations);
  std::unordered_set<uint64_t> seen;
  while (int(table.size()) < kConversations) {
    Conversation c{};
    if (!table.empty() && random.percent(30)) {
      const Conversation &peer = table[random.below(uint32_t(table.size()))];
      c.remote = peer.remote;
      c.ttl = peer.ttl;
    } else {
      const uint32_t host = random.between(0x0101, 0xFFFE);
      c.remote = uint32_t(kRemoteNets[random.below(std::size(kRemoteNets))]) << 16 | host;
      c.ttl = uint8_t(random.between(44, 120));
    }
    const uint32_t kind = random.below(100);
    c.proto = kind < 55 ? kTcp : kind < 88 ? kUdp : kIcmp;
    c.inbound = random.percent(10);
    c.service = c.proto == kIcmp ? 0 : pickService(random, c.proto, c.inbound);
    const uint64_t key = uint64_t(c.remote) << 32 | uint64_t(c.service) << 8 | c.proto;
    if (seen.insert(key).second)
      table.push_back(c);
  }
  return table;
}

// ---- Payload bytes ------------------------------------------------------------------------

constexpr size_t kPoolSize = 1 << 16;

constexpr std::string_view kWords[] = {
    "the",     "packet",  "monitor", "traffic", "address", "session", "window", "server",
    "client",  "request", "answer",  "cache",   "stream",  "value",   "config", "update",
    "user",    "agent",   "accept",  "content", "length",  "type",    "text",   "data",
    "status",  "ready",   "closed",  "host",    "route",   "local",   "remote", "token",
    "message", "header",  "body",    "item",    "list",    "index",   "query",  "result"};

// Printable lines of words ending in CR LF, as in text protocols.
std::vector<uint8_t> makeTextPool(Random &random) {
  std::vector<uint8_t> pool;
  pool.reserve(kPoolSize + 16);
  size_t lineStart = 0;
  while (pool.size() < kPoolSize) {
    const std::string_view word = kWords[random.below(std::size(kWords))];
    pool.insert(pool.end(), word.begin(), word.end());
    if (pool.size() - lineStart > random.between(40, 90)) {
      pool.push_back('\r');
      pool.push_back('\n');
      lineStart = pool.size();
    } else {
      pool.push_back(random.percent(10) ? ':' : ' ');
    }
  }
  pool.resize(kPoolSize);
  return pool;
}

std::vector<uint8_t> makeBinaryPool(Random &random) {
  std::vector<uint8_t> pool(kPoolSize);
  for (size_t i = 0; i < kPoolSize; i += 8) {
    const uint64_t v = random.next();
    std::memcpy(pool.data() + i, &v, 8);
  }
  return pool;
}

// Host names for DNS; an index picks one of the combinations.
constexpr std::string_view kDnsHosts[] = {"www",  "api", "cdn",  "mail", "img",   "static",
                                          "auth", "m",   "news", "shop", "video", "docs"};
constexpr std::string_view kDnsDomains[] = {"example", "vantor", "corp",  "cloudhost",
                                            "library", "portal", "media", "search"};
constexpr std::string_view kDnsTops[] = {"com", "net", "org", "io"};
constexpr uint32_t kDnsNames = std::size(kDnsHosts) * std::size(kDnsDomains) * std::size(kDnsTops);

// ---- Frame assembly -----------------------------------------------------------------------

void put16(uint8_t *at, uint32_t v) {
  at[0] = uint8_t(v >> 8);
  at[1] = uint8_t(v);
}
void put32(uint8_t *at, uint32_t v) {
  put16(at, v >> 16);
  put16(at + 2, v);
}
void putLe32(uint8_t *at, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    at[i] = uint8_t(v >> (8 * i));
}

// The Internet checksum's running sum (RFC 1071): 16-bit words, an odd byte padded with zero.
uint32_t addWords(uint32_t sum, const uint8_t *at, size_t n) {
  for (; n >= 2; at += 2, n -= 2)
    sum += uint32_t(at[0]) << 8 | at[1];
  if (n)
    sum += uint32_t(at[0]) << 8;
  return sum;
}
uint16_t finishSum(uint32_t sum) {
  while (sum >> 16)
    sum = (sum & 0xFFFF) + (sum >> 16);
  return uint16_t(~sum);
}

// Ethernet header: the Ethernet type at 12.
void putEthernet(uint8_t *f, const std::array<uint8_t, 6> &to, const std::array<uint8_t, 6> &from,
                 uint16_t type) {
  std::memcpy(f, to.data(), 6);
  std::memcpy(f + 6, from.data(), 6);
  put16(f + 12, type);
}

// IPv4 header without options at f, its checksum filled in.
void putIpv4(uint8_t *f, uint16_t totalLength, uint16_t id, bool dontFragment, uint8_t ttl,
             uint8_t proto, uint32_t from, uint32_t to) {
  f[0] = 0x45;
  f[1] = 0;
  put16(f + 2, totalLength);
  put16(f + 4, id);
  put16(f + 6, dontFragment ? 0x4000 : 0);
  f[8] = ttl;
  f[9] = proto;
  put16(f + 10, 0);
  put32(f + 12, from);
  put32(f + 16, to);
  put16(f + 10, finishSum(addWords(0, f, 20)));
}

// The transport checksum over the IPv4 pseudo-header (RFC 793 3.1, RFC 768) and the segment.
uint16_t transportSum(uint32_t from, uint32_t to, uint8_t proto, const uint8_t *segment,
                      size_t length) {
  uint8_t pseudo[12];
  put32(pseudo, from);
  put32(pseudo + 4, to);
  pseudo[8] = 0;
  pseudo[9] = proto;
  put16(pseudo + 10, uint32_t(length));
  return finishSum(addWords(addWords(0, pseudo, 12), segment, length));
}

// ---- Output -------------------------------------------------------------------------------

// Collects records in a large buffer and hands it to the system in few big writes.
class Writer {
public:
  explicit Writer(const char *path)
      : fd_(open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)) {
    if (fd_ < 0)
      error_ = errno;
    buffer_.reserve(kBufferSize);
  }
  ~Writer() {
    if (fd_ >= 0)
      ::close(fd_);
  }
  Writer(const Writer &) = delete;
  Writer &operator=(const Writer &) = delete;

  void append(const uint8_t *data, size_t n) {
    if (buffer_.size() + n > kBufferSize)
      flush();
    buffer_.insert(buffer_.end(), data, data + n);
  }
  int error() const { return error_; }
  // Returns 0, or the errno of the first failure.
  int close() {
    flush();
    if (fd_ >= 0 && ::close(fd_) != 0 && error_ == 0)
      error_ = errno;
    fd_ = -1;
    return error_;
  }

private:
  static constexpr size_t kBufferSize = size_t(8) << 20;

  void flush() {
    size_t done = 0;
    while (error_ == 0 && done < buffer_.size()) {
      const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
      if (n > 0)
        done += size_t(n);
      else if (n < 0 && errno != EINTR)
        error_ = errno;
    }
    buffer_.clear();
  }

  int fd_;
  int error_ = 0;
  std::vector<uint8_t> buffer_;
};

// ---- Sessions -----------------------------------------------------------------------------

constexpr uint8_t kFin = 0x01, kSyn = 0x02, kPsh = 0x08, kAck = 0x10;

// One frame of a session's script. For TCP `length` is the payload size; for DNS it picks the
// name and `tag` is the transaction id; for ICMP `tag` is the echo sequence number.
struct Step {
  bool fromClient;
  uint8_t flags;
  uint16_t length;
  uint16_t tag;
};

struct Session {
  const Conversation *conversation = nullptr;
  size_t index = 0; // of the conversation
  uint32_t clientAddr = 0, serverAddr = 0;
  uint16_t clientPort = 0, serverPort = 0;
  uint32_t clientSeq = 0, serverSeq = 0;
  uint16_t clientId = 0, serverId = 0;
  uint16_t echoId = 0;
  bool windowsPing = false;
  std::vector<Step> steps;
  size_t next = 0;

  bool done() const { return next >= steps.size(); }
};

class Generator {
public:
  Generator(uint64_t seed, Writer &out)
      : random_(seed), out_(out), conversations_(makeConversations(random_)),
        textPool_(makeTextPool(random_)), binaryPool_(makeBinaryPool(random_)),
        used_(conversations_.size()),
        nextEphemeral_(uint16_t(random_.between(kFirstClientPort, 62000))) {
    sessions_.resize(kActiveSessions);
    for (Session &s : sessions_)
      start(s);
  }

  void writeFileHeader() {
    uint8_t h[24];
    putLe32(h, 0xA1B2C3D4); // microsecond time stamps, every field little-endian like the magic
    putLe32(h + 4, 2 | 4 << 16); // version 2.4
    putLe32(h + 8, 0);
    putLe32(h + 12, 0);
    putLe32(h + 16, 65535);
    putLe32(h + 20, 1); // Ethernet
    out_.append(h, sizeof h);
  }

  void writeFrame() {
    size_t n;
    if (random_.percent(2)) {
      n = random_.percent(85) ? buildArp() : buildIpv6();
    } else {
      Session &s = sessions_[random_.below(kActiveSessions)];
      n = buildStep(s);
      if (s.done())
        start(s);
    }
    micros_ += random_.between(1, 19);
    uint8_t record[16];
    putLe32(record, uint32_t(kStartSeconds + micros_ / 1000000));
    putLe32(record + 4, uint32_t(micros_ % 1000000));
    putLe32(record + 8, uint32_t(n));
    putLe32(record + 12, uint32_t(n));
    out_.append(record, sizeof record);
    out_.append(frame_.data(), n);
    ++frames_;
    bytes_ += n;
  }

  uint64_t frames() const { return frames_; }
  uint64_t bytes() const { return bytes_; }
  size_t conversationsUsed() const {
    size_t n = 0;
    for (bool u : used_)
      n += u;
    return n;
  }

private:
  // Half the sessions go to a small set of busy conversations, the rest walk the whole table in
  // turn, so a long enough capture touches every conversation.
  size_t chooseConversation() {
    if (random_.percent(50))
      return random_.below(200);
    const size_t index = walk_;
    walk_ = (walk_ + 1) % conversations_.size();
    return index;
  }

  uint16_t ephemeralPort() {
    const uint32_t next = nextEphemeral_ + random_.between(1, 7);
    nextEphemeral_ = next > kLastClientPort ? kFirstClientPort : uint16_t(next);
    return nextEphemeral_;
  }

  bool clientPortTaken(const Session &s) const {
    for (const Session &other : sessions_)
      if (&other != &s && other.conversation == s.conversation && other.clientPort == s.clientPort)
        return true;
    return false;
  }

  void start(Session &s) {
    s.index = chooseConversation();
    const Conversation &c = conversations_[s.index];
    s.conversation = &c;
    s.steps.clear();
    s.next = 0;
    s.clientAddr = c.inbound ? c.remote : kLocalAddr;
    s.serverAddr = c.inbound ? kLocalAddr : c.remote;
    s.serverPort = c.service;
    // Two open sessions of one conversation never share a client port: the second would carry
    // the first's addresses and ports with other sequence numbers, which reads as loss and
    // retransmission.
    do {
      s.clientPort = c.inbound ? uint16_t(random_.between(kFirstClientPort, kLastClientPort))
                               : ephemeralPort();
    } while (clientPortTaken(s));
    s.clientSeq = uint32_t(random_.next());
    s.serverSeq = uint32_t(random_.next());
    s.clientId = uint16_t(random_.next());
    s.serverId = uint16_t(random_.next());
    s.echoId = uint16_t(random_.next());
    s.windowsPing = random_.percent(40);
    if (c.proto == kTcp)
      scriptTcp(s);
    else if (c.proto == kUdp)
      c.service == 53 ? scriptDns(s) : scriptUdp(s);
    else
      scriptEcho(s);
  }

  // Sizes: many small segments, some full ones for bulk transfers.
  uint32_t transferSize() {
    const uint32_t r = random_.below(100);
    if (r < 15)
      return 0;
    if (r < 72)
      return random_.between(1, 400);
    if (r < 90)
      return random_.between(400, 3 * kMaxSegment);
    if (r < 98)
      return random_.between(3 * kMaxSegment, 12 * kMaxSegment);
    return random_.between(12 * kMaxSegment, 40 * kMaxSegment);
  }

  // Sends `size` bytes from one side, the other side acknowledging every second segment as a
  // delayed-ACK receiver does (RFC 1122 4.2.3.2), and the rest once the transfer ends.
  void scriptTransfer(Session &s, bool fromClient, uint32_t size) {
    int segments = 0;
    while (size > 0) {
      const uint16_t n = uint16_t(size < kMaxSegment ? size : kMaxSegment);
      size -= n;
      s.steps.push_back({fromClient, uint8_t(kAck | (size == 0 ? kPsh : 0)), n, 0});
      if (++segments % 2 == 0 && size > 0)
        s.steps.push_back({!fromClient, kAck, 0, 0});
    }
    s.steps.push_back({!fromClient, kAck, 0, 0});
  }

  void scriptTcp(Session &s) {
    s.steps.push_back({true, kSyn, 0, 0});
    s.steps.push_back({false, kSyn | kAck, 0, 0});
    s.steps.push_back({true, kAck, 0, 0});
    const uint32_t rounds = random_.between(1, 4);
    for (uint32_t i = 0; i < rounds; ++i) {
      const bool upload = random_.percent(15);
      const uint32_t request = upload ? transferSize() : random_.between(20, 600);
      const uint32_t response = upload ? random_.between(0, 200) : transferSize();
      scriptTransfer(s, true, request == 0 ? 1 : request);
      if (response > 0)
        scriptTransfer(s, false, response);
    }
    const bool clientCloses = random_.percent(60);
    s.steps.push_back({clientCloses, kFin | kAck, 0, 0});
    s.steps.push_back({!clientCloses, kFin | kAck, 0, 0});
    s.steps.push_back({clientCloses, kAck, 0, 0});
  }

  void scriptDns(Session &s) {
    const uint32_t pairs = random_.between(1, 3);
    for (uint32_t i = 0; i < pairs; ++i) {
      const uint16_t name = uint16_t(random_.below(kDnsNames));
      const uint16_t id = uint16_t(random_.next());
      s.steps.push_back({true, 0, name, id});
      s.steps.push_back({false, 0, name, id});
    }
  }

  void scriptUdp(Session &s) {
    const uint32_t count = random_.between(1, 10);
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t r = random_.below(100);
      const uint32_t size = r < 60   ? random_.between(8, 200)
                            : r < 90 ? random_.between(200, 1000)
                                     : random_.between(1000, kMaxSegment);
      s.steps.push_back({i == 0 || random_.percent(50), 0, uint16_t(size), 0});
    }
  }

  void scriptEcho(Session &s) {
    const uint32_t pairs = random_.between(1, 4);
    const uint16_t first = uint16_t(random_.between(1, 500));
    for (uint32_t i = 0; i < pairs; ++i) {
      s.steps.push_back({true, 0, 0, uint16_t(first + i)});
      s.steps.push_back({false, 0, 0, uint16_t(first + i)});
    }
  }

  const uint8_t *payloadBytes(size_t n) {
    const std::vector<uint8_t> &pool = random_.percent(50) ? textPool_ : binaryPool_;
    return pool.data() + random_.below(uint32_t(kPoolSize - n));
  }

  // Ethernet and IPv4 for one step of `s`; returns where the transport header goes.
  uint8_t *putLinkAndIp(Session &s, bool fromClient, uint16_t ipLength) {
    const bool fromLocal = (s.clientAddr == kLocalAddr) == fromClient;
    uint8_t *f = frame_.data();
    putEthernet(f, fromLocal ? kGatewayMac : kLocalMac, fromLocal ? kLocalMac : kGatewayMac,
                0x0800);
    const uint16_t id = fromClient ? s.clientId++ : s.serverId++;
    const uint8_t proto = s.conversation->proto;
    putIpv4(f + 14, ipLength, id, proto == kTcp, fromLocal ? 64 : s.conversation->ttl, proto,
            fromClient ? s.clientAddr : s.serverAddr, fromClient ? s.serverAddr : s.clientAddr);
    return f + 34;
  }

  size_t buildStep(Session &s) {
    const Step step = s.steps[s.next++];
    // Counted when a frame is out: the sessions still open at the end may never send one.
    used_[s.index] = true;
    switch (s.conversation->proto) {
    case kTcp:
      return buildTcp(s, step);
    case kUdp:
      return s.conversation->service == 53 ? buildDns(s, step) : buildUdp(s, step);
    default:
      return buildEcho(s, step);
    }
  }

  size_t buildTcp(Session &s, const Step &step) {
    // The SYNs announce the maximum segment size (RFC 9293 3.7.1).
    const size_t headerLength = (step.flags & kSyn) ? 24 : 20;
    const size_t segmentLength = headerLength + step.length;
    uint8_t *t = putLinkAndIp(s, step.fromClient, uint16_t(20 + segmentLength));
    uint32_t &ownSeq = step.fromClient ? s.clientSeq : s.serverSeq;
    const uint32_t peerSeq = step.fromClient ? s.serverSeq : s.clientSeq;
    put16(t, step.fromClient ? s.clientPort : s.serverPort);
    put16(t + 2, step.fromClient ? s.serverPort : s.clientPort);
    put32(t + 4, ownSeq);
    put32(t + 8, (step.flags & kAck) ? peerSeq : 0);
    t[12] = uint8_t(headerLength / 4 << 4);
    t[13] = step.flags;
    put16(t + 14, step.fromClient ? 64240 : 65160);
    put16(t + 16, 0);
    put16(t + 18, 0);
    if (headerLength == 24) {
      t[20] = 2, t[21] = 4;
      put16(t + 22, kMaxSegment);
    }
    if (step.length)
      std::memcpy(t + headerLength, payloadBytes(step.length), step.length);
    // SYN and FIN each take one sequence number (RFC 9293 3.4).
    ownSeq += step.length + ((step.flags & kSyn) ? 1 : 0) + ((step.flags & kFin) ? 1 : 0);
    const uint32_t from = step.fromClient ? s.clientAddr : s.serverAddr;
    const uint32_t to = step.fromClient ? s.serverAddr : s.clientAddr;
    put16(t + 16, transportSum(from, to, kTcp, t, segmentLength));
    return 34 + segmentLength;
  }

  // UDP header and checksum around `payloadLength` bytes already at t + 8.
  size_t finishUdp(Session &s, const Step &step, uint8_t *t, size_t payloadLength) {
    const size_t length = 8 + payloadLength;
    put16(t, step.fromClient ? s.clientPort : s.serverPort);
    put16(t + 2, step.fromClient ? s.serverPort : s.clientPort);
    put16(t + 4, uint32_t(length));
    put16(t + 6, 0);
    const uint32_t from = step.fromClient ? s.clientAddr : s.serverAddr;
    const uint32_t to = step.fromClient ? s.serverAddr : s.clientAddr;
    const uint16_t sum = transportSum(from, to, kUdp, t, length);
    put16(t + 6, sum == 0 ? 0xFFFF : sum); // 0 would mean "no checksum" (RFC 768)
    return 34 + length;
  }

  // The payload opens with a magic of its own, as application protocols over UDP do; without it
  // random bytes now and then look enough like some protocol for a heuristic dissector to claim
  // them and call them malformed.
  size_t buildUdp(Session &s, const Step &step) {
    static constexpr uint8_t kMagic[] = {'V', '0', 'T', 'R'};
    uint8_t *t = putLinkAndIp(s, step.fromClient, uint16_t(28 + step.length));
    const size_t magic = std::min(sizeof kMagic, size_t(step.length));
    std::memcpy(t + 8, kMagic, magic);
    std::memcpy(t + 8 + magic, payloadBytes(step.length - magic), step.length - magic);
    return finishUdp(s, step, t, step.length);
  }

  // A query for one A record, or its answer (RFC 1035 4.1).
  static size_t putDnsMessage(uint8_t *d, uint16_t name, uint16_t id, bool answer,
                              uint32_t address) {
    put16(d, id);
    put16(d + 2, answer ? 0x8180 : 0x0100);
    put16(d + 4, 1);
    put16(d + 6, answer ? 1 : 0);
    put16(d + 8, 0);
    put16(d + 10, 0);
    size_t n = 12;
    const std::string_view labels[] = {
        kDnsHosts[name % std::size(kDnsHosts)],
        kDnsDomains[name / std::size(kDnsHosts) % std::size(kDnsDomains)],
        kDnsTops[name / (std::size(kDnsHosts) * std::size(kDnsDomains)) % std::size(kDnsTops)]};
    for (std::string_view label : labels) {
      d[n++] = uint8_t(label.size());
      std::memcpy(d + n, label.data(), label.size());
      n += label.size();
    }
    d[n++] = 0;
    put16(d + n, 1);     // A
    put16(d + n + 2, 1); // IN
    n += 4;
    if (answer) {
      put16(d + n, 0xC00C); // the name of the question
      put16(d + n + 2, 1);
      put16(d + n + 4, 1);
      put32(d + n + 6, 300);
      put16(d + n + 10, 4);
      put32(d + n + 12, address);
      n += 16;
    }
    return n;
  }

  size_t buildDns(Session &s, const Step &step) {
    uint8_t message[128];
    const uint32_t address = uint32_t(kRemoteNets[step.length % std::size(kRemoteNets)]) << 16 |
                             (uint32_t(step.length) * 2654435761u >> 16 & 0xFFFF);
    const size_t n = putDnsMessage(message, step.length, step.tag, !step.fromClient, address);
    uint8_t *t = putLinkAndIp(s, step.fromClient, uint16_t(28 + n));
    std::memcpy(t + 8, message, n);
    return finishUdp(s, step, t, n);
  }

  // Echo request or reply (RFC 792) with the payload of a Linux ping (a time stamp, then
  // counting bytes) or of a Windows ping (the alphabet).
  size_t buildEcho(Session &s, const Step &step) {
    static constexpr std::string_view kWindowsPayload = "abcdefghijklmnopqrstuvwabcdefghi";
    const size_t payload = s.windowsPing ? kWindowsPayload.size() : 56;
    uint8_t *t = putLinkAndIp(s, step.fromClient, uint16_t(20 + 8 + payload));
    t[0] = step.fromClient ? 8 : 0;
    t[1] = 0;
    put16(t + 2, 0);
    put16(t + 4, s.echoId);
    put16(t + 6, step.tag);
    if (s.windowsPing) {
      std::memcpy(t + 8, kWindowsPayload.data(), payload);
    } else {
      putLe32(t + 8, uint32_t(kStartSeconds + micros_ / 1000000));
      putLe32(t + 12, 0);
      putLe32(t + 16, uint32_t(micros_ % 1000000));
      putLe32(t + 20, 0);
      for (size_t i = 16; i < payload; ++i)
        t[8 + i] = uint8_t(i);
    }
    put16(t + 2, finishSum(addWords(0, t, 8 + payload)));
    return 34 + 8 + payload;
  }

  // Who-has requests (ours, or the gateway's asking for us) and our replies (RFC 826).
  size_t buildArp() {
    uint8_t *f = frame_.data();
    const uint32_t kind = random_.below(3);
    const bool fromLocal = kind != 1;
    const bool reply = kind == 2;
    const auto &sender = fromLocal ? kLocalMac : kGatewayMac;
    putEthernet(f, reply ? kGatewayMac : kBroadcastMac, sender, 0x0806);
    uint8_t *a = f + 14;
    put16(a, 1);
    put16(a + 2, 0x0800);
    a[4] = 6, a[5] = 4;
    put16(a + 6, reply ? 2 : 1);
    std::memcpy(a + 8, sender.data(), 6);
    put32(a + 14, fromLocal ? kLocalAddr : kGatewayAddr);
    if (reply)
      std::memcpy(a + 18, kGatewayMac.data(), 6);
    else
      std::memset(a + 18, 0, 6);
    put32(a + 24,
          fromLocal ? (reply ? kGatewayAddr : 0x0A000000 | random_.between(2, 253)) : kLocalAddr);
    // Frames that arrive are padded to the Ethernet minimum; our own are captured before that.
    if (fromLocal)
      return 42;
    std::memset(f + 42, 0, 18);
    return 60;
  }

  // mDNS queries to ff02::fb from our link-local address, with the UDP checksum IPv6 requires
  // (RFC 8200 8.1).
  size_t buildIpv6() {
    static constexpr uint8_t kFrom[16] = {0xfe, 0x80, 0, 0,    0,    0, 0, 0,
                                          0,    0,    0, 0xff, 0xfe, 0, 0, 0x01};
    static constexpr uint8_t kTo[16] = {0xff, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xfb};
    uint8_t *f = frame_.data();
    putEthernet(f, {0x33, 0x33, 0x00, 0x00, 0x00, 0xfb}, kLocalMac, 0x86DD);
    uint8_t *u = f + 54;
    const size_t n = putDnsMessage(u + 8, uint16_t(random_.below(kDnsNames)), 0, false, 0);
    const size_t udpLength = 8 + n;
    uint8_t *ip = f + 14;
    put32(ip, 0x60000000);
    put16(ip + 4, uint32_t(udpLength));
    ip[6] = kUdp;
    ip[7] = 255;
    std::memcpy(ip + 8, kFrom, 16);
    std::memcpy(ip + 24, kTo, 16);
    put16(u, 5353);
    put16(u + 2, 5353);
    put16(u + 4, uint32_t(udpLength));
    put16(u + 6, 0);
    uint8_t pseudo[40] = {};
    std::memcpy(pseudo, kFrom, 16);
    std::memcpy(pseudo + 16, kTo, 16);
    put32(pseudo + 32, uint32_t(udpLength));
    pseudo[39] = kUdp;
    const uint16_t sum = finishSum(addWords(addWords(0, pseudo, 40), u, udpLength));
    put16(u + 6, sum == 0 ? 0xFFFF : sum);
    return 54 + udpLength;
  }

  Random random_;
  Writer &out_;
  std::vector<Conversation> conversations_;
  std::vector<uint8_t> textPool_;
  std::vector<uint8_t> binaryPool_;
  std::vector<bool> used_;
  std::vector<Session> sessions_;
  std::array<uint8_t, kMaxFrame> frame_{};
  size_t walk_ = 0;
  uint16_t nextEphemeral_;
  uint64_t micros_ = 0;
  uint64_t frames_ = 0;
  uint64_t bytes_ = 0;
};

[[noreturn]] void usage(const char *why) {
  std::fprintf(stderr, "make-capture: %s\nusage: make-capture N FILE [--seed S]\n", why);
  std::exit(2);
}

// A whole non-negative number, decimal or with 0x; anything else is refused.
bool parseCount(const char *text, uint64_t &value) {
  if (*text == '\0' || *text == '-' || *text == '+' || *text == ' ')
    return false;
  char *end = nullptr;
  errno = 0;
  value = std::strtoull(text, &end, 0);
  return errno == 0 && *end == '\0';
}

} // namespace

int main(int argc, char **argv) {
  std::vector<const char *> positional;
  uint64_t seed = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--seed") {
      if (i + 1 >= argc || !parseCount(argv[++i], seed))
        usage("--seed needs a whole number");
    } else if (arg.size() > 1 && arg[0] == '-') {
      usage(("unknown option " + std::string(arg)).c_str());
    } else {
      positional.push_back(argv[i]);
    }
  }
  uint64_t count = 0;
  if (positional.size() != 2)
    usage("N and FILE are required");
  if (!parseCount(positional[0], count))
    usage("N must be a whole number");

  Writer out(positional[1]);
  if (out.error() != 0) {
    std::fprintf(stderr, "make-capture: %s: %s\n", positional[1], std::strerror(out.error()));
    return 1;
  }
  Generator generator(seed, out);
  generator.writeFileHeader();
  while (generator.frames() < count)
    generator.writeFrame();
  if (const int error = out.close()) {
    std::fprintf(stderr, "make-capture: %s: %s\n", positional[1], std::strerror(error));
    return 1;
  }
  std::fprintf(stderr,
               "make-capture: %llu frames, %llu bytes, %zu IPv4 conversations, "
               "local MAC 02-00-00-00-00-01\n",
               (unsigned long long)generator.frames(), (unsigned long long)generator.bytes(),
               generator.conversationsUsed());
  return 0;
}
