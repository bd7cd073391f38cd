// PostgreSQL's frontend/backend protocol, version 3: the frontend messages
// the test sends, and a reader that cuts the server's byte stream into
// messages whatever pieces the network delivers it in. No I/O here.
#pragma once
#include <stddef.h>
#include <string>
#include <vector>

// Frontend messages, appended to out.
void PgStartupMessage(std::string* out, const char* user, const char* database);
void PgQueryMessage(std::string* out, const char* sql);
void PgCopyDataMessage(std::string* out, const char* data, size_t length);
void PgCopyDoneMessage(std::string* out);
void PgTerminateMessage(std::string* out);

// One backend message: its type byte and the bytes after the length.
struct PgMessage {
    char type;
    std::string body;
};

// The bytes received and not yet taken as messages.
struct PgInbox {
    std::string bytes;
    size_t start;  // first byte not yet taken
};

void PgInboxAdd(PgInbox* inbox, const char* data, size_t length);
// Takes the next whole message. Returns 1 with *message filled, 0 when more
// bytes are needed, -1 when the length field is impossible (below 4).
int PgInboxTake(PgInbox* inbox, PgMessage* message);
// True when the bytes received so far end inside a message (a message was
// split across reads), false when they end on a message boundary.
bool PgInboxEndsInsideMessage(const PgInbox* inbox);

// Reads the fields of a message body in order; `bad` is set on a read past
// the end, and later reads then give zeros and empty strings.
struct PgCursor {
    const std::string* body;
    size_t at;
    bool bad;
};
PgCursor PgCursorOn(const std::string* body);
long PgInt32(PgCursor* c);
int PgInt16(PgCursor* c);
std::string PgCString(PgCursor* c);

// The columns of a DataRow body (a NULL column comes as an empty string with
// isNull set). False when the body is malformed.
bool PgDataRowFields(const std::string& body, std::vector<std::string>* fields, std::vector<bool>* isNull);
// "SEVERITY CODE: message" from an ErrorResponse or NoticeResponse body.
std::string PgErrorText(const std::string& body);
