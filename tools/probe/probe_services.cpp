// ravoprobe services: the services file the module's look-ups read, its tcp
// entries, or one name resolved to its port as _netopen resolves it.
#include "probe.h"
#include <stdio.h>
#include <string.h>

// Prints the tcp entries of the file; returns how many there are.
static int ListTcpEntries(FILE* file)
{
    char line[512];
    int count = 0;
    while (fgets(line, sizeof line, file)) {
        char* hash = strchr(line, '#');
        if (hash)
            *hash = 0;
        char name[128], portProtocol[64];
        unsigned port;
        char protocol[16];
        if (sscanf(line, "%127s %63s", name, portProtocol) != 2 ||
            sscanf(portProtocol, "%u/%15s", &port, protocol) != 2 || _stricmp(protocol, "tcp") != 0)
            continue;
        printf("  %-24s %u\n", name, port);
        count++;
    }
    return count;
}

void HintPortNumber(const char* service, const char* indent)
{
    if (service[0] && strspn(service, "0123456789") == strlen(service))
        printf("%sa port number is not a service name: add a line \"NAME %s/tcp\" and use NAME\n", indent, service);
}

int CommandServices(const ProbeOptions* o)
{
    char path[MAX_PATH];
    ServicesFilePath(path, sizeof path);
    if (o->argc == 0) {
        FILE* file = fopen(path, "r");
        if (!file) {
            printf("services file: %s (cannot be read: every service look-up fails)\n", path);
            return PROBE_FAILED;
        }
        printf("services file: %s\ntcp entries (name, port):\n", path);
        int count = ListTcpEntries(file);
        fclose(file);
        printf("%d tcp entries; _netopen finds a server's port only by one of these names\n", count);
        return PROBE_OK;
    }
    const char* name = o->argv[0];
    WSADATA data;
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0) {
        printf("ravoprobe services: the socket library does not start\n");
        return PROBE_FAILED;
    }
    // The same look-up as _netopen: the name, protocol "tcp".
    struct servent* entry = getservbyname(name, "tcp");
    int error = entry ? 0 : WSAGetLastError();
    int status = PROBE_OK;
    if (entry) {
        printf("%s/tcp -> port %u (from %s)\n", name, ntohs(entry->s_port), path);
    } else {
        const char* errorName = WinsockErrorName(error);
        printf("%s/tcp: no entry in %s (getservbyname error %d %s; _netopen fails with %d)\n", name, path, error,
               errorName ? errorName : "", error + NET_ERR_SERVICE);
        HintPortNumber(name, "  ");
        status = IsNameNotFound(error) ? PROBE_NO_NAME : PROBE_FAILED;
    }
    WSACleanup();
    return status;
}
