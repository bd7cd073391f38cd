# Fails when the README's example host differs from examples/host.c: the
# README shows the whole file in one ```c block, byte for byte.
# Usage: cmake -DREADME=README.md -DSOURCE=examples/host.c -P readme_example.cmake
file(READ ${README} readme)
file(READ ${SOURCE} source)
string(FIND "${readme}" "```c\n${source}```\n" at)
if(at EQUAL -1)
    message(FATAL_ERROR "${README} does not show ${SOURCE} as it is: copy the file into its ```c block")
endif()
message(STATUS "${README} shows ${SOURCE} as it is")
