# Fails when an example in docs/hosts.md differs from its file: the document
# shows the whole file in one ```FENCE block (default c), byte for byte.
# Usage: cmake -DDOC=docs/hosts.md -DSOURCE=examples/host.c [-DFENCE=cmake] -P docs_example.cmake
file(READ ${DOC} doc)
file(READ ${SOURCE} source)
if(NOT FENCE)
    set(FENCE c)
endif()
string(FIND "${doc}" "```${FENCE}\n${source}```\n" at)
if(at EQUAL -1)
    message(FATAL_ERROR "${DOC} does not show ${SOURCE} as it is: copy the file into its ```${FENCE} block")
endif()
message(STATUS "${DOC} shows ${SOURCE} as it is")
