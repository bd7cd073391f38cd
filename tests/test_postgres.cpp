// A real database server carried by the module: the throwaway PostgreSQL
// cluster of tests/postgres/cluster.sh, reached by the service name "ravopg",
// spoken to in protocol version 3 through _netopen, _netsend, _netread and
// _netclose only. Megabytes go each way: a large result cut into messages
// across many reads, and a COPY whose data the server's own md5() checks.
#include "check.h"
#include "postgres/md5.h"
#include "postgres/pg_link.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char SERVICE[] = "ravopg";
static const char USER[] = "ravo";  // the cluster's superuser, trusted on loopback
static const char DATABASE[] = "postgres";
static const DWORD LINK_LIMIT_MS = 40000;  // every wait of a case, together

// Rows of the large result: about 6.5 MB of DataRow messages of varying size
// (RESULT_SQL makes row n from n alone, so each can be checked here).
static const long RESULT_ROWS = 60000;
static const char RESULT_SQL[] =
    "SELECT n, repeat(chr(65 + n %% 26), 40 + n %% 97) FROM generate_series(1, %ld) AS n ORDER BY n";

// Rows of the COPY: about 5 MB of text.
static const long COPY_ROWS = 50000;

// Runs sql as a simple query whose reply must be CommandComplete with tag
// and ReadyForQuery, nothing else.
static bool RunCommand(PgLink* link, const char* sql, const char* tag)
{
    std::string q;
    PgQueryMessage(&q, sql);
    PgMessage m;
    if (!PgSendAll(link, q) || !PgExpect(link, 'C', &m))
        return false;
    CHECK(m.body == std::string(tag) + '\0', "%s: expected tag \"%s\", seen \"%s\"", sql, tag, m.body.c_str());
    return PgExpect(link, 'Z', &m);
}

// Whether fields hold row n of RESULT_SQL.
static bool IsResultRow(const std::vector<std::string>& fields, const std::vector<bool>& isNull, long n)
{
    if (fields.size() != 2 || isNull[0] || isNull[1])
        return false;
    char number[16];
    sprintf(number, "%ld", n);
    if (fields[0] != number || fields[1].size() != (size_t)(40 + n % 97))
        return false;
    return fields[1].find_first_not_of((char)('A' + n % 26)) == std::string::npos;
}

TEST_CASE(a_large_result_arrives_whole_through_many_reads)
{
    DWORD start = GetTickCount();
    PgLink link;
    if (PgConnect(&link, SERVICE, USER, DATABASE, LINK_LIMIT_MS)) {
        printf("  server version %s\n", link.serverVersion.c_str());
        char sql[160], tag[32];
        sprintf(sql, RESULT_SQL, RESULT_ROWS);
        sprintf(tag, "SELECT %ld", RESULT_ROWS);
        std::string q;
        PgQueryMessage(&q, sql);
        PgMessage m;
        if (PgSendAll(&link, q) && PgExpect(&link, 'T', &m)) {
            PgCursor c = PgCursorOn(&m.body);
            CHECK_EQ(2, PgInt16(&c), "columns described");
            long rows = 0, badRows = 0, firstBad = 0;
            std::vector<std::string> fields;
            std::vector<bool> isNull;
            bool ok;
            while ((ok = PgNext(&link, &m)) && m.type == 'D') {
                rows++;
                if (!PgDataRowFields(m.body, &fields, &isNull) || !IsResultRow(fields, isNull, rows))
                    if (badRows++ == 0)
                        firstBad = rows;
            }
            CHECK_EQ(RESULT_ROWS, rows, "rows received");
            CHECK(badRows == 0, "%ld rows differ from what the query makes, the first is row %ld", badRows, firstBad);
            if (ok && CHECK(m.type == 'C' && m.body == std::string(tag) + '\0',
                            "after the rows: expected CommandComplete \"%s\", seen '%c' \"%s\"", tag, m.type,
                            m.body.c_str()))
                PgExpect(&link, 'Z', &m);
            CHECK(link.traffic.reads > 100, "expected the result to take many reads, took %ld", link.traffic.reads);
            CHECK(link.traffic.readsEndingInMessage > 0,
                  "expected some messages split across reads, seen none in %ld reads", link.traffic.reads);
        }
    }
    PgTraffic traffic = link.traffic;
    PgDisconnect(&link);
    PgPrintTraffic("large result", &traffic, GetTickCount() - start);
}

// Row n of the COPY: printable text of varying length, without the tab,
// backslash and line ends to which COPY's text format gives a meaning.
static void MakeCopyLine(unsigned long* seed, std::string* line)
{
    static const char ALPHABET[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 .,;:-_+=()[]{}!?'\"#%&*/<>|~^";
    *seed = *seed * 1103515245u + 12345u;
    size_t length = 10 + (*seed >> 16) % 180;
    line->clear();
    for (size_t i = 0; i < length; i++) {
        *seed = *seed * 1103515245u + 12345u;
        line->push_back(ALPHABET[(*seed >> 16) % (sizeof ALPHABET - 1)]);
    }
}

// The COPY stream in CopyData messages, then CopyDone; md5Hex gets the MD5
// of the lines joined by line feeds, as the server's string_agg joins them.
static bool MakeCopyStream(std::string* stream, char md5Hex[33])
{
    const size_t COPY_DATA_SIZE = 65536;
    Md5 md5;
    if (!CHECK(Md5Begin(&md5), "CryptoAPI MD5 unavailable: error %lu", GetLastError()))
        return false;
    std::string text, line;
    unsigned long seed = 20261208;
    for (long n = 1; n <= COPY_ROWS; n++) {
        MakeCopyLine(&seed, &line);
        if (n > 1)
            Md5Add(&md5, "\n", 1);
        Md5Add(&md5, line.data(), line.size());
        char number[16];
        sprintf(number, "%ld\t", n);
        text += number;
        text += line;
        text += '\n';
    }
    // Message boundaries need not fall between rows: the server joins them.
    stream->clear();
    for (size_t at = 0; at < text.size(); at += COPY_DATA_SIZE)
        PgCopyDataMessage(stream, text.data() + at, text.size() - at < COPY_DATA_SIZE ? text.size() - at : COPY_DATA_SIZE);
    PgCopyDoneMessage(stream);
    return CHECK(Md5End(&md5, md5Hex), "CryptoAPI MD5 failed: error %lu", GetLastError());
}

TEST_CASE(copy_of_megabytes_matches_the_servers_checksum)
{
    char sentMd5[33];
    std::string stream;
    if (!MakeCopyStream(&stream, sentMd5))
        return;
    DWORD start = GetTickCount();
    PgLink link;
    if (PgConnect(&link, SERVICE, USER, DATABASE, LINK_LIMIT_MS) &&
        RunCommand(&link, "CREATE TEMPORARY TABLE t (n integer PRIMARY KEY, line text NOT NULL)", "CREATE TABLE")) {
        std::string q;
        PgQueryMessage(&q, "COPY t FROM STDIN");
        PgMessage m;
        char tag[32];
        sprintf(tag, "COPY %ld", COPY_ROWS);
        if (PgSendAll(&link, q) && PgExpect(&link, 'G', &m) && PgSendAll(&link, stream) && PgExpect(&link, 'C', &m)) {
            CHECK(m.body == std::string(tag) + '\0', "after CopyDone: expected \"%s\", seen \"%s\"", tag,
                  m.body.c_str());
            PgExpect(&link, 'Z', &m);
        }
        q.clear();
        PgQueryMessage(&q, "SELECT md5(string_agg(line, E'\\n' ORDER BY n)), count(*) FROM t");
        std::vector<std::string> fields;
        std::vector<bool> isNull;
        if (FailuresInCurrentCase() == 0 && PgSendAll(&link, q) && PgExpect(&link, 'T', &m) &&
            PgExpect(&link, 'D', &m) && CHECK(PgDataRowFields(m.body, &fields, &isNull) && fields.size() == 2,
                                              "the checksum row is malformed")) {
            CHECK(fields[0] == sentMd5, "MD5 of the lines: sent %s, the server stored %s", sentMd5, fields[0].c_str());
            CHECK(atol(fields[1].c_str()) == COPY_ROWS, "rows stored: expected %ld, seen %s", COPY_ROWS,
                  fields[1].c_str());
            if (PgExpect(&link, 'C', &m))
                PgExpect(&link, 'Z', &m);
        }
        if (link.traffic.partialSends == 0)
            printf("  note: every _netsend took all it was offered; no partial send happened\n");
    }
    PgTraffic traffic = link.traffic;
    PgDisconnect(&link);
    PgPrintTraffic("copy", &traffic, GetTickCount() - start);
}

// A short session: the start-up, one command, the goodbye (the server's
// close, then ours). test_pcap traces it and reads its capture in tshark.
TEST_CASE(a_short_session_of_one_command)
{
    PgLink link;
    if (PgConnect(&link, SERVICE, USER, DATABASE, LINK_LIMIT_MS))
        RunCommand(&link, "SET application_name = 'traced by ravotrace'", "SET");
    PgDisconnect(&link);
}

int main(int argc, char** argv)
{
    return RunAllTests(argc, argv);
}
