// pcapng's blocks (the section header, interfaces, enhanced packets) in the
// byte order of this machine, little-endian, as the section's byte-order
// magic tells readers. Each block is made whole in memory, then written.
#include "capture.h"

enum {
    BLOCK_SECTION = 0x0A0D0D0A,
    BLOCK_INTERFACE = 1,
    BLOCK_PACKET = 6,
    BYTE_ORDER_MAGIC = 0x1A2B3C4D,
    LINKTYPE_IPV4 = 228,  // raw IPv4, no link header
    OPTION_END = 0,
    OPTION_COMMENT = 1,
    SECTION_USER_APPLICATION = 4,
    INTERFACE_NAME = 2,
    INTERFACE_DESCRIPTION = 3,
    INTERFACE_TIME_RESOLUTION = 9,
    MICROSECONDS = 6,  // if_tsresol: 10^-6 s
};

static void Put16(std::string* b, unsigned v)
{
    b->push_back((char)(v & 0xff));
    b->push_back((char)(v >> 8 & 0xff));
}

static void Put32(std::string* b, unsigned long v)
{
    Put16(b, v & 0xffff);
    Put16(b, v >> 16 & 0xffff);
}

static void PadTo32Bits(std::string* b)
{
    b->append((4 - b->size() % 4) % 4, '\0');
}

static void PutOption(std::string* b, unsigned code, const void* value, size_t length)
{
    if (length == 0)
        return;
    length = length > 0xffff ? 0xfffc : length;
    Put16(b, code);
    Put16(b, (unsigned)length);
    b->append((const char*)value, length);
    PadTo32Bits(b);
}

// pcapng's texts are UTF-8; the trace's are in the ANSI code page (paths,
// host names), so any byte beyond ASCII is converted.
static std::string Utf8(const std::string& text)
{
    bool ascii = true;
    for (char c : text)
        ascii &= (unsigned char)c < 0x80;
    if (ascii)
        return text;
    std::wstring wide(text.size(), L'\0');
    wide.resize(MultiByteToWideChar(CP_ACP, 0, text.data(), (int)text.size(), &wide[0], (int)wide.size()));
    std::string utf8(wide.size() * 3, '\0');
    utf8.resize(WideCharToMultiByte(CP_UTF8, 0, wide.data(), (int)wide.size(), &utf8[0], (int)utf8.size(), NULL, NULL));
    return utf8;
}

static void PutText(std::string* b, unsigned code, const std::string& text)
{
    std::string utf8 = Utf8(text);
    PutOption(b, code, utf8.data(), utf8.size());
}

static void BeginBlock(PcapWriter* w, unsigned long type)
{
    w->block.clear();
    Put32(&w->block, type);
    Put32(&w->block, 0);  // its length, once known
}

// Ends the options and the block, and writes it.
static void EndBlock(PcapWriter* w, bool hasOptions)
{
    std::string* b = &w->block;
    if (hasOptions)
        Put32(b, OPTION_END);
    size_t total = b->size() + 4;
    Put32(b, (unsigned long)total);
    for (int i = 0; i < 4; i++)
        (*b)[4 + i] = (char)(total >> (8 * i) & 0xff);
    fwrite(b->data(), 1, b->size(), w->out);
}

void PcapSection(PcapWriter* w, const std::string& comment, const char* application)
{
    BeginBlock(w, BLOCK_SECTION);
    Put32(&w->block, BYTE_ORDER_MAGIC);
    Put16(&w->block, 1);  // version 1.0
    Put16(&w->block, 0);
    Put32(&w->block, 0xffffffff);  // section length: not given
    Put32(&w->block, 0xffffffff);
    PutText(&w->block, OPTION_COMMENT, comment);
    PutText(&w->block, SECTION_USER_APPLICATION, application);
    EndBlock(w, true);
}

void PcapInterface(PcapWriter* w, const std::string& name, const std::string& description)
{
    BeginBlock(w, BLOCK_INTERFACE);
    Put16(&w->block, LINKTYPE_IPV4);
    Put16(&w->block, 0);
    Put32(&w->block, 0);  // snap length: no limit
    PutText(&w->block, INTERFACE_NAME, name);
    PutText(&w->block, INTERFACE_DESCRIPTION, description);
    unsigned char resolution = MICROSECONDS;
    PutOption(&w->block, INTERFACE_TIME_RESOLUTION, &resolution, 1);
    EndBlock(w, true);
}

void PcapPacket(PcapWriter* w, int interfaceId, double wallMs, const std::string& packet, size_t length,
                const std::string& comment)
{
    unsigned long long us = wallMs > 0 ? (unsigned long long)(wallMs * 1000.0 + 0.5) : 0;
    BeginBlock(w, BLOCK_PACKET);
    Put32(&w->block, (unsigned long)interfaceId);
    Put32(&w->block, (unsigned long)(us >> 32));
    Put32(&w->block, (unsigned long)(us & 0xffffffff));
    Put32(&w->block, (unsigned long)packet.size());
    Put32(&w->block, (unsigned long)length);
    w->block += packet;
    PadTo32Bits(&w->block);
    PutText(&w->block, OPTION_COMMENT, comment);
    EndBlock(w, !comment.empty());
}
