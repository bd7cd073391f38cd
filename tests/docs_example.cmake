# Fails when the example host in docs/hosts.md differs from examples/host.c:
# the document shows the whole file in one ```c block, byte for byte.
# Usage: cmake -DDOC=docs/hosts.md -DSOURCE=examples/host.c -P docs_example.cmake
file(READ ${DOC} doc)
file(READ ${SOURCE} source)
string(FIND "${doc}" "```c\n${source}```\n" at)
if(at EQUAL -1)
    message(FATAL_ERROR "${DOC} does not show ${SOURCE} as it is: copy the file into its ```c block")
endif()
message(STATUS "${DOC} shows ${SOURCE} as it is")
