# The CMake package of ravowsok.dll, installed as lib/cmake/ravowsok/ of the
# release. Every path is taken from this file's own folder, so the package
# works wherever the release is unpacked:
#
#   find_package(ravowsok 1.0 CONFIG REQUIRED)
#   target_link_libraries(host PRIVATE ravowsok::ravowsok)
#
# ravowsok::ravowsok brings the include folder and the import library for the
# linker in use; its IMPORTED_LOCATION is bin/ravowsok.dll, so
# $<TARGET_RUNTIME_DLLS:host> names the DLL to copy beside the host.

# The module is 32-bit: a 64-bit program cannot load it, and a target would
# only fail later, at link time.
if(CMAKE_SIZEOF_VOID_P AND NOT CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(ravowsok_FOUND FALSE)
    string(CONCAT ravowsok_NOT_FOUND_MESSAGE "ravowsok.dll is a 32-bit Windows module only, and this project "
        "builds for ${CMAKE_SIZEOF_VOID_P}-byte pointers: a 64-bit program cannot load it. Build the host for "
        "32-bit Windows (i686-w64-mingw32-gcc, or MSVC's x86 tools: -A Win32).")
    return()
endif()

get_filename_component(_ravowsok_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)

# Microsoft-style linkers (link, lld-link: MSVC, clang-cl, clang for
# *-windows-msvc) read ravowsok.lib; GNU-style ones (mingw-w64's ld, and lld
# in MinGW mode) libravowsok.dll.a.
if(MSVC OR CMAKE_C_SIMULATE_ID STREQUAL "MSVC" OR CMAKE_CXX_SIMULATE_ID STREQUAL "MSVC")
    set(_ravowsok_implib "${_ravowsok_prefix}/lib/ravowsok.lib")
else()
    set(_ravowsok_implib "${_ravowsok_prefix}/lib/libravowsok.dll.a")
endif()

if(NOT EXISTS "${_ravowsok_implib}")
    set(ravowsok_FOUND FALSE)
    set(ravowsok_NOT_FOUND_MESSAGE "the import library for this project's linker is missing: ${_ravowsok_implib}")
elseif(NOT TARGET ravowsok::ravowsok)
    add_library(ravowsok::ravowsok SHARED IMPORTED)
    set_target_properties(ravowsok::ravowsok PROPERTIES
        IMPORTED_LOCATION "${_ravowsok_prefix}/bin/ravowsok.dll"
        IMPORTED_IMPLIB "${_ravowsok_implib}"
        INTERFACE_INCLUDE_DIRECTORIES "${_ravowsok_prefix}/include")
endif()
unset(_ravowsok_implib)
unset(_ravowsok_prefix)
