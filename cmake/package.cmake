# What hosts find the module by: the CMake package (lib/cmake/ravowsok/) and
# the pkg-config file (lib/pkgconfig/ravowsok.pc) of the installed tree, both
# relocatable and at the project's version. A 1.x package serves any 1.x
# request; ravowsokConfig.cmake itself turns 64-bit projects away with a
# message of its own, so the version file leaves the pointer size alone.
include(CMakePackageConfigHelpers)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/ravowsokConfigVersion.cmake
    COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
configure_file(${CMAKE_CURRENT_LIST_DIR}/ravowsok.pc.in ${CMAKE_BINARY_DIR}/ravowsok.pc @ONLY)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/ravowsokConfig.cmake ${CMAKE_BINARY_DIR}/ravowsokConfigVersion.cmake
        DESTINATION lib/cmake/ravowsok)
install(FILES ${CMAKE_BINARY_DIR}/ravowsok.pc DESTINATION lib/pkgconfig)
