// The module as a file and as a loaded image: its export table against
// RAVO_EXPORTS, imports, dialog resource, _nettype, WEP and the host record.
#include "check.h"
#include "ravo.h"
#include "intercept.h"
#include <stdio.h>
#include <string.h>

// Maps a relative virtual address of the image to an offset in the file.
static const unsigned char* AtRva(const unsigned char* file, DWORD rva)
{
    const IMAGE_NT_HEADERS* nt = (const IMAGE_NT_HEADERS*)(file + ((const IMAGE_DOS_HEADER*)file)->e_lfanew);
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (int i = 0; i < nt->FileHeader.NumberOfSections; i++, section++)
        if (rva >= section->VirtualAddress && rva < section->VirtualAddress + section->Misc.VirtualSize)
            return file + section->PointerToRawData + (rva - section->VirtualAddress);
    return NULL;
}

static const IMAGE_NT_HEADERS* Headers(const unsigned char* file)
{
    return (const IMAGE_NT_HEADERS*)(file + ((const IMAGE_DOS_HEADER*)file)->e_lfanew);
}

TEST_CASE(export_table_in_the_file_has_nine_names_at_their_ordinals)
{
    std::string bytes;
    if (!CHECK(ReadWholeFile(RavoPath(), &bytes), "cannot read ravowsok.dll"))
        return;
    const unsigned char* file = (const unsigned char*)bytes.data();
    const IMAGE_NT_HEADERS* nt = Headers(file);
    CHECK_EQ(IMAGE_FILE_MACHINE_I386, nt->FileHeader.Machine, "machine");
    CHECK(nt->FileHeader.Characteristics & IMAGE_FILE_DLL, "not marked as a DLL");
    DWORD exportRva = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT].VirtualAddress;
    const IMAGE_EXPORT_DIRECTORY* exports = (const IMAGE_EXPORT_DIRECTORY*)AtRva(file, exportRva);
    if (!CHECK(exports != NULL, "no export directory"))
        return;
    CHECK(strcmp((const char*)AtRva(file, exports->Name), "ravowsok.dll") == 0, "table name: expected ravowsok.dll, seen %s",
          (const char*)AtRva(file, exports->Name));
    CHECK_EQ(1, exports->Base, "ordinal base");
    CHECK_EQ(RAVO_EXPORT_COUNT, exports->NumberOfFunctions, "functions");
    CHECK_EQ(RAVO_EXPORT_COUNT, exports->NumberOfNames, "names");
    // The names in byte order, each at the ordinal RAVO_EXPORTS gives it.
    const DWORD* names = (const DWORD*)AtRva(file, exports->AddressOfNames);
    const WORD* ordinals = (const WORD*)AtRva(file, exports->AddressOfNameOrdinals);
    const DWORD* functions = (const DWORD*)AtRva(file, exports->AddressOfFunctions);
    for (DWORD i = 0; i < exports->NumberOfNames && i < RAVO_EXPORT_COUNT; i++) {
        const RavoExportInfo* e = &RAVO_EXPORT_LIST[i];
        const char* name = (const char*)AtRva(file, names[i]);
        CHECK(strcmp(name, e->name) == 0, "name %lu: expected %s, seen %s", i, e->name, name);
        CHECK_EQ(e->ordinal, ordinals[i] + exports->Base, name);
        CHECK(functions[ordinals[i]] != 0, "%s has no address", name);
    }
}

TEST_CASE(module_imports_kernel32_user32_wsock32_only)
{
    std::string bytes;
    if (!CHECK(ReadWholeFile(RavoPath(), &bytes), "cannot read ravowsok.dll"))
        return;
    const unsigned char* file = (const unsigned char*)bytes.data();
    DWORD importRva = Headers(file)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    int count = 0;
    for (const IMAGE_IMPORT_DESCRIPTOR* d = (const IMAGE_IMPORT_DESCRIPTOR*)AtRva(file, importRva); d->Name; d++) {
        const char* dll = (const char*)AtRva(file, d->Name);
        CHECK(!lstrcmpiA(dll, "KERNEL32.dll") || !lstrcmpiA(dll, "USER32.dll") ||
                  (!ViaTrace() && !lstrcmpiA(dll, "WSOCK32.dll")),
              "unexpected import from %s", dll);
        count++;
    }
    CHECK_EQ(ViaTrace() ? 2 : 3, count, "imported libraries");
    // The drop-in's own limit is test_trace's.
    CHECK(ViaTrace() || bytes.size() <= 16384, "module is %u bytes, more than 16 KiB", (unsigned)bytes.size());
}

// The classic template, word by word: header, then two items, each aligned
// to a double word.
static const WORD EXPECTED_DIALOG[] = {
    0x0080, 0x8080,  // style 0x80800080
    0, 0,            // extended style
    2,               // items
    105, 49, 65, 40, // x, y, cx, cy
    0, 0, 0,         // no menu, default class, empty caption
    // item 1, at offset 24
    0x0001, 0x5003, 0, 0, 15, 24, 32, 14, 2, 0xFFFF, 0x0080,
    'C', 'a', 'n', 'c', 'e', 'l', 0, 0,  // text, no creation data
    0,                                   // padding to a double word
    // item 2, at offset 64
    0x0001, 0x5002, 0, 0, 0, 8, 65, 8, 1001, 0xFFFF, 0x0082, 0, 0,
};

static BOOL WINAPI CountType(HMODULE, LPSTR, LONG_PTR counter)
{
    ++*(int*)counter;
    return TRUE;
}

static BOOL WINAPI CountName(HMODULE, LPCSTR, LPSTR, LONG_PTR counter)
{
    ++*(int*)counter;
    return TRUE;
}

TEST_CASE(abort_dialog_resource_is_the_classic_template)
{
    HMODULE image = LoadLibraryExA(RavoPath(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    if (!CHECK(image != NULL, "cannot map the module as data: %lu", GetLastError()))
        return;
    HRSRC found = FindResourceExA(image, (LPCSTR)RT_DIALOG, "ABORTDLG", MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    if (CHECK(found != NULL, "ABORTDLG (language 1033) not found")) {
        const WORD* seen = (const WORD*)LockResource(LoadResource(image, found));
        DWORD size = SizeofResource(image, found);
        CHECK(size == sizeof EXPECTED_DIALOG, "template size: expected %u, seen %lu", (unsigned)sizeof EXPECTED_DIALOG,
              size);
        for (unsigned i = 0; i < sizeof EXPECTED_DIALOG / 2 && i < size / 2; i++)
            CHECK(seen[i] == EXPECTED_DIALOG[i], "word %u: expected 0x%04x, seen 0x%04x", i, EXPECTED_DIALOG[i], seen[i]);
    }
    // Nothing else: one resource type, one name (the drop-in also has its
    // version resource).
    int types = 0, names = 0;
    EnumResourceTypesA(image, CountType, (LONG_PTR)&types);
    EnumResourceNamesA(image, (LPCSTR)RT_DIALOG, CountName, (LONG_PTR)&names);
    CHECK_EQ(ViaTrace() ? 2 : 1, types, "resource types");
    CHECK_EQ(1, names, "dialog resources");
    FreeLibrary(image);
}

// LoadRavo resolves by name and checks the ordinal: the call is both.
TEST_CASE(nettype_returns_2_by_name_and_by_ordinal_before_any_open)
{
    Ravo r;
    if (!LoadRavo(&r))
        return;
    CHECK_EQ(NET_TYPE_TCPIP, r._nettype(), "_nettype");
    CHECK_EQ(0, CallLogSize(), "platform calls made by _nettype");
    UnloadRavo(&r);
}

TEST_CASE(wep_with_default_settings_frees_nothing_and_returns_1)
{
    Ravo r;
    if (!LoadRavo(&r))
        return;
    CHECK_EQ(1, r.WEP(0), "WEP before any open");
    CHECK_EQ(0, CallCount("FreeLibrary"), "FreeLibrary calls");
    UnloadRavo(&r);
}

TEST_CASE(mcwsahook_returns_1_and_retrieves_no_message)
{
    Ravo r;
    if (!LoadRavo(&r))
        return;
    PostThreadMessageA(GetCurrentThreadId(), WM_USER, 0, 0);
    CHECK_EQ(1, r.mcWSAHook(), "mcWSAHook");
    CHECK_EQ(0, CallLogSize(), "platform calls made by mcWSAHook");
    MSG msg;
    CHECK(PeekMessageA(&msg, NULL, WM_USER, WM_USER, PM_REMOVE), "the posted message was taken by mcWSAHook");
    UnloadRavo(&r);
}

int main(int argc, char** argv)
{
    return RunAllTests(argc, argv);
}
