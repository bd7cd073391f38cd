// The trace rebuilt as a capture (ravoprobe report TRACE --pcap FILE): each
// connection of a trace with Data=1 rows as one TCP stream over IPv4, in a
// pcapng file that Wireshark and tshark read. The packets are made from the
// trace's calls and their rows of bytes; nothing here was captured.
#pragma once
#include <string>

#include "report.h"

// --- capture_file.cpp: the command ------------------------------------------
// Reads the trace and writes its capture to capturePath, replacing a file
// there only once the whole capture is written; says on stdout what went
// into it and what did not. application names the program in the file.
// False, with no file written and why on stderr, when the trace cannot be
// read, has no rows of bytes (Data=0) or the capture cannot be written; false
// too when lines were left out (the capture holds the rest).
bool WriteTraceCaptureFile(const char* tracePath, const char* capturePath, const char* application);

// --- capture_blocks.cpp: pcapng's blocks, little-endian ---------------------
struct PcapWriter {
    FILE* out;
    std::string block;  // the block being made
};
// The section header: its comment, the program that wrote it.
void PcapSection(PcapWriter* w, const std::string& comment, const char* application);
// An interface of link type raw IPv4, times in microseconds.
void PcapInterface(PcapWriter* w, const std::string& name, const std::string& description);
// One packet: captured of its length bytes are in packet.
void PcapPacket(PcapWriter* w, int interfaceId, double wallMs, const std::string& packet, size_t length,
                const std::string& comment);

// --- capture_tcp.cpp: IPv4 and TCP headers with their checksums ---------------
struct TcpEnd {
    unsigned char address[4];
    unsigned port;
    unsigned long seq;  // the next sequence number this end sends
    unsigned ipId;
};
enum { TCP_FIN = 0x01, TCP_SYN = 0x02, TCP_RST = 0x04, TCP_PSH = 0x08, TCP_ACK = 0x10 };
// The largest payload of one segment: what one IPv4 packet holds.
enum { TCP_MOST_PAYLOAD = 65535 - 20 - 20 };
// A segment from one end to the other in packet: the headers, then the
// captured bytes of its payload of length bytes (those not captured count
// as zeros in the checksum). Acknowledges all that the other end sent; the
// sender's sequence number and IP id move on. Returns the packet's length on
// the wire.
size_t TcpSegment(std::string* packet, TcpEnd* from, const TcpEnd* to, int flags, const unsigned char* payload,
                  size_t captured, size_t length);

// --- capture_streams.cpp: the trace's connections as streams ----------------
// What did not go into the capture, by kind: how many, and the first.
struct NotCaptured {
    const char* what;   // "failed open", ...
    const char* whats;  // its plural
    const char* why;    // "no connection", ...
    int count;
    const TracedCall* first;
};
struct CaptureAccount {
    int connections, packets, processes;
    long long bytesOut, bytesIn;
    int madeUpPorts;             // connections whose host port is made up
    NotCaptured failedOpens, boundOpens, neverEnded, openedBefore;
    std::vector<int> withoutData;  // processes without rows of bytes
};
// Writes the trace's capture; fills the account.
void WriteCapture(const Trace* t, const char* tracePath, const char* application, PcapWriter* w,
                  CaptureAccount* account);
