# Build check, run by CTest on the build host (no Wine): the dump writer,
# which no export calls, must still be linked into ravowsok.dll, and the
# module must keep exactly its nine exports and three system imports.
#   cmake -DMAP=<ravowsok.map> -DDLL=<ravowsok.dll> -DOBJDUMP=<objdump> -P dump_in_module.cmake

set(failures 0)

# Fails the check with a message; the script goes on to report every fault.
macro(fail message)
    message(SEND_ERROR "${message}")
    math(EXPR failures "${failures} + 1")
endmacro()

if(NOT EXISTS "${MAP}")
    message(FATAL_ERROR "no linker map at ${MAP}")
endif()
file(READ "${MAP}" map)
# The module is stripped; the map still names each symbol on a line of its
# own after its address. i686 C names may carry a leading underscore.
foreach(name SetDumpCounter DumpMemory WriteDumpSegment
             DumpByteValue DumpByteChar DumpHighNibble DumpLowNibble
             dumpCounter dumpHeaderSuppressed dumpBuffer)
    if(NOT map MATCHES "0x[0-9a-f]+[ \t]+_?${name}[\r\n]")
        fail("${name} is missing from the linker map: the dump writer was dropped")
    endif()
endforeach()

execute_process(COMMAND "${OBJDUMP}" -p "${DLL}"
                OUTPUT_VARIABLE headers RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed (${rc})")
endif()

# Export names, in name order, from the "[Ordinal/Name Pointer] Table".
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table[^\n]*\n([^\n]+\n)*" table "${headers}")
string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" rows "${table}")
set(exports "")
foreach(row IN LISTS rows)
    string(REGEX REPLACE "^\\[ *[0-9]+\\] +" "" name "${row}")
    string(STRIP "${name}" name)
    list(APPEND exports "${name}")
endforeach()
set(expected KybdBlockProc MouseBlockProc WEP _netclose _netopen _netread _netsend _nettype mcWSAHook)
if(NOT exports STREQUAL expected)
    fail("exports are [${exports}], expected exactly [${expected}]")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${headers}")
string(TOUPPER "${imports}" imports)
if(NOT imports STREQUAL "DLL NAME: KERNEL32.DLL;DLL NAME: USER32.DLL;DLL NAME: WSOCK32.DLL")
    fail("imports are [${imports}], expected KERNEL32, USER32 and WSOCK32 only")
endif()

if(failures GREATER 0)
    message(FATAL_ERROR "${failures} fault(s) in the built module")
endif()
message(STATUS "dump writer present; 9 exports; 3 imports")
