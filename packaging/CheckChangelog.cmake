# The Debian changelog parses without a warning and its latest entry is a
# release of this project's version (UPSTREAM-REVISION, UPSTREAM being the
# version in project()).
# cmake -DPARSECHANGELOG=... -DCHANGELOG=... -DVERSION=... -P CheckChangelog.cmake
execute_process(
    COMMAND ${PARSECHANGELOG} -l ${CHANGELOG} --show-field Version
    OUTPUT_VARIABLE version OUTPUT_STRIP_TRAILING_WHITESPACE
    ERROR_VARIABLE warnings
    RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT warnings STREQUAL "")
    message(FATAL_ERROR "dpkg-parsechangelog ${CHANGELOG} (status ${rc}):\n${warnings}")
endif()
string(REPLACE "." "\\." upstream "${VERSION}")
if(NOT version MATCHES "^${upstream}-[0-9A-Za-z.+~]+$")
    message(FATAL_ERROR
        "${CHANGELOG}: the latest entry is ${version}; project() is at ${VERSION}, "
        "and the two must agree (a new entry ${VERSION}-1, or project() at its version)")
endif()
