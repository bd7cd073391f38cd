# The export tables, made at configure time from the one list of exports in
# include/ravowsok.h (RAVO_EXPORTS: name, ordinal, argument bytes, pointer
# type), into the build folder:
#   ravowsok.def            the module's: each name on its __stdcall routine
#   ravowsok-decorated.def  the import libraries': the decorated names (see
#                           cmake/import-libraries.cmake)
#   ravotrace.def           the tracing drop-in's: the module's names and
#                           ordinals on the drop-in's Trace<name> routines
set(RAVOWSOK_HEADER ${CMAKE_SOURCE_DIR}/include/ravowsok.h)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${RAVOWSOK_HEADER})
file(READ ${RAVOWSOK_HEADER} header)
string(REGEX MATCHALL "X\\([A-Za-z_][A-Za-z0-9_]*, [0-9]+, [0-9]+, [A-Za-z]+\\)" exportLines "${header}")

set(RAVOWSOK_DEF ${CMAKE_BINARY_DIR}/ravowsok.def)
set(RAVOWSOK_DECORATED_DEF ${CMAKE_BINARY_DIR}/ravowsok-decorated.def)
set(RAVOTRACE_DEF ${CMAKE_BINARY_DIR}/ravotrace.def)
set(module "; Made by CMake from RAVO_EXPORTS in include/ravowsok.h; do not edit.\nLIBRARY \"ravowsok.dll\"\nEXPORTS\n")
set(decorated "${module}")
set(dropIn "${module}")
set(expected 1)
foreach(line IN LISTS exportLines)
    string(REGEX MATCH "X\\(([A-Za-z_0-9]+), ([0-9]+), ([0-9]+)" _ "${line}")
    set(name ${CMAKE_MATCH_1})
    set(at "@${CMAKE_MATCH_3} @${CMAKE_MATCH_2}")
    if(NOT CMAKE_MATCH_2 EQUAL expected)
        message(FATAL_ERROR "RAVO_EXPORTS: ${name} has ordinal ${CMAKE_MATCH_2}, expected ${expected} (ordinal order)")
    endif()
    math(EXPR expected "${expected} + 1")
    string(APPEND module "    ${name} = ${name}${at}\n")
    string(APPEND decorated "    ${name}${at}\n")
    string(APPEND dropIn "    ${name} = Trace${name}${at}\n")
endforeach()
if(NOT expected EQUAL 10)
    message(FATAL_ERROR "RAVO_EXPORTS: read ${exportLines} from ${RAVOWSOK_HEADER}: expected nine exports")
endif()

# Written only when they change, so a new configure relinks nothing.
function(write_when_changed path text)
    get_filename_component(name ${path} NAME)
    file(WRITE ${CMAKE_BINARY_DIR}/CMakeFiles/${name}.new "${text}")
    configure_file(${CMAKE_BINARY_DIR}/CMakeFiles/${name}.new ${path} COPYONLY)
endfunction()
write_when_changed(${RAVOWSOK_DEF} "${module}")
write_when_changed(${RAVOWSOK_DECORATED_DEF} "${decorated}")
write_when_changed(${RAVOTRACE_DEF} "${dropIn}")
