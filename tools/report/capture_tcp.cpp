// One TCP segment over IPv4, headers in network byte order with their
// checksums, as a capture with a snap length would hold it: every header
// byte, the payload's first bytes.
#include "capture.h"

enum {
    IPV4_HEADER = 20,
    TCP_HEADER = 20,
    SYN_OPTIONS = 8,      // MSS, a no-op, the window scale
    IPV4_DONT_FRAGMENT = 0x4000,
    IPV4_TIME_TO_LIVE = 128,
    IPV4_TCP = 6,
    WINDOW = 65535,
    WINDOW_SCALE = 14,    // 65535 << 14: a window of 1 GiB, which no stream rebuilt here fills
};

// Network byte order: big-endian.
static void Net16(std::string* b, unsigned v)
{
    b->push_back((char)(v >> 8 & 0xff));
    b->push_back((char)(v & 0xff));
}

static void Net32(std::string* b, unsigned long v)
{
    Net16(b, v >> 16 & 0xffff);
    Net16(b, v & 0xffff);
}

// The Internet checksum's running sum of 16-bit words, big-endian.
static unsigned long long Sum(unsigned long long sum, const unsigned char* bytes, size_t length)
{
    for (size_t i = 0; i + 1 < length; i += 2)
        sum += (unsigned)bytes[i] << 8 | bytes[i + 1];
    if (length & 1)
        sum += (unsigned)bytes[length - 1] << 8;
    return sum;
}

static unsigned Fold(unsigned long long sum)
{
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return (unsigned)~sum & 0xffff;
}

static void PutChecksum(std::string* packet, size_t at, unsigned checksum)
{
    (*packet)[at] = (char)(checksum >> 8);
    (*packet)[at + 1] = (char)(checksum & 0xff);
}

size_t TcpSegment(std::string* packet, TcpEnd* from, const TcpEnd* to, int flags, const unsigned char* payload,
                  size_t captured, size_t length)
{
    size_t tcpHeader = TCP_HEADER + (flags & TCP_SYN ? SYN_OPTIONS : 0), total = IPV4_HEADER + tcpHeader + length;
    packet->clear();
    Net16(packet, 0x4500);  // version 4, 5 words of header
    Net16(packet, (unsigned)total);
    Net16(packet, from->ipId++ & 0xffff);
    Net16(packet, IPV4_DONT_FRAGMENT);
    Net16(packet, IPV4_TIME_TO_LIVE << 8 | IPV4_TCP);
    Net16(packet, 0);  // the checksum, below
    packet->append((const char*)from->address, 4);
    packet->append((const char*)to->address, 4);
    PutChecksum(packet, 10, Fold(Sum(0, (const unsigned char*)packet->data(), IPV4_HEADER)));

    Net16(packet, from->port);
    Net16(packet, to->port);
    Net32(packet, from->seq);
    Net32(packet, flags & TCP_ACK ? to->seq : 0);
    Net16(packet, (unsigned)(tcpHeader / 4) << 12 | flags);
    Net16(packet, WINDOW);
    Net16(packet, 0);  // the checksum, below
    Net16(packet, 0);  // no urgent data
    if (flags & TCP_SYN) {
        Net32(packet, 0x02040000 | TCP_MOST_PAYLOAD);  // MSS
        Net32(packet, 0x01030300 | WINDOW_SCALE);      // a no-op, the window scale
    }
    packet->append((const char*)payload, captured);
    // Over a pseudo header of the addresses, the protocol and the TCP length.
    unsigned long long sum = Sum(0, from->address, 4);
    sum = Sum(sum, to->address, 4) + IPV4_TCP + tcpHeader + length;
    sum = Sum(sum, (const unsigned char*)packet->data() + IPV4_HEADER, tcpHeader + captured);
    PutChecksum(packet, IPV4_HEADER + 16, Fold(sum));
    from->seq += (unsigned long)length + (flags & TCP_SYN ? 1 : 0) + (flags & TCP_FIN ? 1 : 0);
    from->seq &= 0xffffffff;
    return total;
}
