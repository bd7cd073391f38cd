// Building and cutting protocol version 3 messages. Integers are big-endian;
// a message's length counts itself but not the type byte before it.
#include "pg_wire.h"
#include <string.h>

static const long PROTOCOL_3_0 = 196608;  // major 3 in the high half, minor 0

static void PutInt32(std::string* out, long value)
{
    unsigned long v = (unsigned long)value;
    char b[4] = {(char)(v >> 24), (char)(v >> 16), (char)(v >> 8), (char)v};
    out->append(b, 4);
}

static void PutCString(std::string* out, const char* s)
{
    out->append(s, strlen(s) + 1);
}

void PgStartupMessage(std::string* out, const char* user, const char* database)
{
    std::string body;
    PutInt32(&body, PROTOCOL_3_0);
    PutCString(&body, "user");
    PutCString(&body, user);
    PutCString(&body, "database");
    PutCString(&body, database);
    body.push_back('\0');
    // The start-up message alone has no type byte.
    PutInt32(out, (long)body.size() + 4);
    out->append(body);
}

void PgQueryMessage(std::string* out, const char* sql)
{
    out->push_back('Q');
    PutInt32(out, (long)strlen(sql) + 1 + 4);
    PutCString(out, sql);
}

void PgCopyDataMessage(std::string* out, const char* data, size_t length)
{
    out->push_back('d');
    PutInt32(out, (long)length + 4);
    out->append(data, length);
}

void PgCopyDoneMessage(std::string* out)
{
    out->push_back('c');
    PutInt32(out, 4);
}

void PgTerminateMessage(std::string* out)
{
    out->push_back('X');
    PutInt32(out, 4);
}

static unsigned long GetUInt32(const char* p)
{
    const unsigned char* u = (const unsigned char*)p;
    return ((unsigned long)u[0] << 24) | ((unsigned long)u[1] << 16) | ((unsigned long)u[2] << 8) | u[3];
}

void PgInboxAdd(PgInbox* inbox, const char* data, size_t length)
{
    // Drop what was taken before growing, so the buffer stays about one read.
    if (inbox->start > 0 && inbox->start * 2 >= inbox->bytes.size()) {
        inbox->bytes.erase(0, inbox->start);
        inbox->start = 0;
    }
    inbox->bytes.append(data, length);
}

int PgInboxTake(PgInbox* inbox, PgMessage* message)
{
    size_t available = inbox->bytes.size() - inbox->start;
    if (available < 5)
        return 0;
    const char* head = inbox->bytes.data() + inbox->start;
    unsigned long length = GetUInt32(head + 1);
    if (length < 4)
        return -1;
    if (available < 1 + (size_t)length)
        return 0;
    message->type = head[0];
    message->body.assign(head + 5, length - 4);
    inbox->start += 1 + length;
    return 1;
}

bool PgInboxEndsInsideMessage(const PgInbox* inbox)
{
    size_t at = inbox->start, size = inbox->bytes.size();
    while (size - at >= 5) {
        unsigned long length = GetUInt32(inbox->bytes.data() + at + 1);
        if (length < 4 || size - at < 1 + (size_t)length)
            break;
        at += 1 + length;
    }
    return at != size;
}

PgCursor PgCursorOn(const std::string* body)
{
    PgCursor c = {body, 0, false};
    return c;
}

// True when n more bytes are there to read; marks the cursor bad otherwise.
static bool Has(PgCursor* c, size_t n)
{
    if (!c->bad && c->body->size() - c->at >= n)
        return true;
    c->bad = true;
    return false;
}

long PgInt32(PgCursor* c)
{
    if (!Has(c, 4))
        return 0;
    long v = (long)GetUInt32(c->body->data() + c->at);
    c->at += 4;
    return v;
}

int PgInt16(PgCursor* c)
{
    if (!Has(c, 2))
        return 0;
    const unsigned char* u = (const unsigned char*)c->body->data() + c->at;
    c->at += 2;
    return (short)((u[0] << 8) | u[1]);
}

std::string PgCString(PgCursor* c)
{
    if (c->bad)
        return std::string();
    size_t end = c->body->find('\0', c->at);
    if (end == std::string::npos) {
        c->bad = true;
        return std::string();
    }
    std::string s = c->body->substr(c->at, end - c->at);
    c->at = end + 1;
    return s;
}

bool PgDataRowFields(const std::string& body, std::vector<std::string>* fields, std::vector<bool>* isNull)
{
    PgCursor c = PgCursorOn(&body);
    int count = PgInt16(&c);
    fields->assign(count > 0 ? count : 0, std::string());
    isNull->assign(count > 0 ? count : 0, false);
    for (int i = 0; i < count && !c.bad; i++) {
        long length = PgInt32(&c);
        if (length == -1) {
            (*isNull)[i] = true;
            continue;
        }
        if (length < 0 || !Has(&c, (size_t)length))
            return false;
        (*fields)[i].assign(body.data() + c.at, (size_t)length);
        c.at += (size_t)length;
    }
    return !c.bad && count >= 0 && c.at == body.size();
}

std::string PgErrorText(const std::string& body)
{
    // Fields: a code byte and a string each, ended by a zero byte.
    std::string severity, code, text;
    PgCursor c = PgCursorOn(&body);
    while (Has(&c, 1) && body[c.at] != '\0') {
        char field = body[c.at++];
        std::string value = PgCString(&c);
        if (field == 'S')
            severity = value;
        else if (field == 'C')
            code = value;
        else if (field == 'M')
            text = value;
    }
    return severity + " " + code + ": " + text;
}
