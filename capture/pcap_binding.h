#pragma once

// The binding to libpcap, loaded at run time with dlopen: the program runs
// (with the raw engine) where libpcap is not installed. pcap.h gives the
// types only; every call goes through the table of resolved entry points.
#include <pcap/pcap.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One open adapter or capture file.
struct TPcapHandle {
  pcap_t *Pcap = nullptr;
  std::string AdapterName; // empty for a file
  int32_t SnapLen = 0;
  int LinkType = 0;      // DLT_* of the open handle
  std::string ErrorText; // message of the last failed read
  ~TPcapHandle();        // closes Pcap if still open
};

// Called once per record of a read, in buffer order, on the reading thread.
using TPcapCallback = void (*)(void *user, const pcap_pkthdr *header, const uint8_t *frame);

// Loads "libpcap.so.1", then "libpcap.so.0.8" (or the library named by the
// environment variable VANTOR_LIBPCAP) and resolves the entry points. True
// when loaded; a failed load is tried again on the next call.
bool LoadPacketDll();

// Adapter names and descriptions (pcap_findalldevs). Either list may be null:
// then the error is "String List not intialised". Returns the number of names.
int PcapGetAdapterNames(std::vector<std::string> *names, std::vector<std::string> *descriptions,
                        std::string &error);
void PcapGetDriverVersion(std::string &version); // kernel name and release
void PcapGetPacketVersion(std::string &version); // pcap_lib_version
// The adapter's IPv4 addresses, masks and broadcast addresses, network byte order.
int PcapGetIPAddresses(const std::string &adapter, std::vector<uint32_t> &addresses,
                       std::vector<uint32_t> &masks, std::vector<uint32_t> &broadcasts,
                       std::string &error);
// pcap_create + snap length + promiscuous + 100 ms time-out + 1,000,000-byte
// kernel buffer + pcap_activate. Null with `error` set on failure; `error` is
// left alone on success.
std::unique_ptr<TPcapHandle> PcapOpenAdapter(const std::string &adapter, int32_t snapLen,
                                             bool promiscuous, std::string &error);
// The same handle over a pcap or pcapng file.
std::unique_ptr<TPcapHandle> PcapOpenFile(const std::string &path, std::string &error);
// One pcap_dispatch: records processed, 0 when none came within the time-out
// (or at the end of a file), -1 on failure with handle.ErrorText set.
// `mostRecords` 0 or less means all records of the read.
int PcapReadPackets(TPcapHandle &handle, int32_t mostRecords, TPcapCallback callback, void *user);
// How far a capture file has been read, in bytes; -1 for an adapter or
// when libpcap cannot tell. Call it on the thread that reads the handle.
int64_t PcapFileOffset(TPcapHandle &handle);
// Hardware address of the handle's adapter (SIOCGIFHWADDR); all zero and
// "Failed to get adaptor MAC" on failure.
void PcapGetMacAddress(TPcapHandle &handle, std::string &error, std::array<uint8_t, 6> &mac);
// Wakes a read blocked in another thread so it returns at once.
void PcapBreakLoop(TPcapHandle &handle);
// Closes and empties the variable; nothing happens when it is empty.
void PcapCloseAdapter(std::unique_ptr<TPcapHandle> &handle);
// Minutes with UTC = local time + bias.
int32_t GetTimeZoneBias();
// libpcap's short name of a DLT_* link type ("EN10MB"); empty when unknown.
std::string PcapLinkTypeName(int linkType);
// Releases the library (the binding's shutdown); the next operation loads it
// again. No handle may be open and no read running.
void UnloadPacketDll();
