# Build check, run by CTest on the build host (no Wine): the dump writer,
# which no export calls, must still be linked into ravowsok.dll. (test_frame
# reads the export and import tables from the module file itself.)
#   cmake -DMAP=<ravowsok.map> -P dump_in_module.cmake

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

if(failures GREATER 0)
    message(FATAL_ERROR "${failures} fault(s) in the built module")
endif()
message(STATUS "dump writer present")
