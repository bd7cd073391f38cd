# Import libraries beside the module, both made from its one export list:
#   libravowsok.dll.a  for GNU linkers (mingw-w64), by GNU dlltool;
#   ravowsok.lib       for Microsoft-style linkers (lld-link, link), by llvm-dlltool.
# A compiler names a __stdcall import after its argument bytes
# (__imp___netopen@28) while the module exports the bare name (_netopen).
# ravowsok-decorated.def (cmake/export-tables.cmake) names the decorated
# routines; fed to dlltool with --kill-at, it maps each to the other: the
# library defines the decorated symbol and imports the name with "@28" cut off.

# The GNU library replaces the one the linker writes for the module (which
# imports only the bare names), at the same path, after every link: the
# targets and the install rules that use the module's import library get
# this one.
find_program(RAVOWSOK_GNU_DLLTOOL NAMES i686-w64-mingw32-dlltool dlltool REQUIRED)
add_custom_command(TARGET ravowsok POST_BUILD
    COMMAND ${RAVOWSOK_GNU_DLLTOOL} --kill-at --input-def ${RAVOWSOK_DECORATED_DEF}
            --dllname ravowsok.dll --output-lib $<TARGET_LINKER_FILE_NAME:ravowsok>
            --temp-prefix CMakeFiles/ravowsok-dlltool
    # dlltool names the library's symbols after the path it is given: a bare
    # file name keeps the build folder out of them.
    WORKING_DIRECTORY $<TARGET_LINKER_FILE_DIR:ravowsok>
    COMMENT "Import library for GNU linkers: $<TARGET_LINKER_FILE_NAME:ravowsok>"
    VERBATIM)

# Debian's llvm package installs llvm-dlltool; scripts/install-deps.sh adds
# it. Without it there is no ravowsok.lib, and the Microsoft-mode host test
# says so and fails.
set(RAVOWSOK_MS_IMPORT_LIB ${CMAKE_BINARY_DIR}/ravowsok.lib)
find_program(RAVOWSOK_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-19 llvm-dlltool-16 llvm-dlltool-14)
if(RAVOWSOK_LLVM_DLLTOOL)
    add_custom_command(OUTPUT ${RAVOWSOK_MS_IMPORT_LIB}
        COMMAND ${RAVOWSOK_LLVM_DLLTOOL} -m i386 -k -d ${RAVOWSOK_DECORATED_DEF} -D ravowsok.dll
                -l ${RAVOWSOK_MS_IMPORT_LIB}
        DEPENDS ${RAVOWSOK_DECORATED_DEF}
        COMMENT "Import library for Microsoft-style linkers: ravowsok.lib"
        VERBATIM)
    add_custom_target(ravowsok_ms_import_lib ALL DEPENDS ${RAVOWSOK_MS_IMPORT_LIB})
else()
    message(WARNING "llvm-dlltool not found: ravowsok.lib is not made (bash scripts/install-deps.sh installs it)")
endif()
