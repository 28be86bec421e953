# Fails unless every installed header has its page in the API reference and
# the page lists each class the header defines. Doxygen gives a header a page
# only for its \file entry (docs/reference/files.dox) and, as configured, hides
# a class without its comment; the reference's own input list could leave a
# header out: the headers here are the installed ones.
#   -DHEADERS=<file naming the installed headers, one a line> -DTAGFILE=<the reference's tag file>
cmake_minimum_required(VERSION 3.22)
file(STRINGS "${HEADERS}" headers)
file(READ "${TAGFILE}" tag)
get_filename_component(html "${TAGFILE}" DIRECTORY)
set(html "${html}/html")

# The file compounds of the tag file, by file name.
set(rest "${tag}")
while(TRUE)
    string(FIND "${rest}" "<compound kind=\"file\">" at)
    if(at EQUAL -1)
        break()
    endif()
    string(SUBSTRING "${rest}" ${at} -1 rest)
    string(FIND "${rest}" "</compound>" end)
    string(SUBSTRING "${rest}" 0 ${end} compound)
    string(SUBSTRING "${rest}" ${end} -1 rest)
    string(REGEX MATCH "<name>([^<]*)</name>" _ "${compound}")
    set("page_${CMAKE_MATCH_1}" "${compound}")
endwhile()

set(faults "")
list(LENGTH headers count)
foreach(header IN LISTS headers)
    get_filename_component(name "${header}" NAME)
    if(NOT DEFINED "page_${name}")
        string(APPEND faults "\n  ${name}: no page")
        continue()
    endif()
    set(page "${page_${name}}")
    string(REGEX MATCH "<filename>([^<]*)</filename>" _ "${page}")
    if(NOT CMAKE_MATCH_1 OR NOT EXISTS "${html}/${CMAKE_MATCH_1}")
        string(APPEND faults "\n  ${name}: its page ${CMAKE_MATCH_1} is not in ${html}")
    endif()
    # Definitions, not forward declarations.
    file(STRINGS "${header}" definitions
        REGEX "^[ \t]*(class|struct)[ \t]+[A-Za-z_][A-Za-z0-9_]*([ \t]+[A-Za-z_][A-Za-z0-9_]*)?[ \t]*(:[^;]*)?$")
    foreach(definition IN LISTS definitions)
        string(REGEX MATCH "^[ \t]*(class|struct)[ \t]+([A-Z_]+_(API|EXPORT)[ \t]+)?([A-Za-z_][A-Za-z0-9_]*)"
            _ "${definition}")
        set(class "${CMAKE_MATCH_4}")
        if(NOT page MATCHES "[>:]${class}</class>")
            string(APPEND faults "\n  ${name}: ${class} is not on its page (no comment?)")
        endif()
    endforeach()
endforeach()
if(faults)
    message(FATAL_ERROR "The reference (${TAGFILE}) lacks:${faults}")
endif()
message(STATUS "${count} installed headers, each with its page and classes")
