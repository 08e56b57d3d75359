# The installation medium: build/medium/ holds Setup, Webcfgpatch,
# license.txt and, beside them, the installation tree that Setup copies whole
# into the chosen folder.  Programs join the medium once their targets exist,
# so the target builds whatever is there today.
set(QUELLIN_MEDIUM_DIR ${PROJECT_BINARY_DIR}/medium)
set(_medium_entries "")
set(_medium_targets "")

function(_medium_program target destination)
  if(TARGET ${target})
    set(_medium_entries "${_medium_entries}$<TARGET_FILE:${target}>\t${destination}\n" PARENT_SCOPE)
    set(_medium_targets ${_medium_targets} ${target} PARENT_SCOPE)
  endif()
endfunction()

function(_medium_file source destination)
  if(EXISTS ${PROJECT_SOURCE_DIR}/${source})
    set(_medium_entries "${_medium_entries}${PROJECT_SOURCE_DIR}/${source}\t${destination}\n"
        PARENT_SCOPE)
  endif()
endfunction()

_medium_program(Setup Setup)
_medium_program(Webcfgpatch Webcfgpatch)
_medium_file(setup/license.txt license.txt)
_medium_program(Quellin_tool Quellin_tool)
_medium_file(console/help/Quellin_tool.html Quellin_tool.html)
_medium_program(quellin quellin)
_medium_program(Syslogd syslog/Syslogd)
_medium_file(syslogd/help/syslogd.html syslog/syslogd.html)
_medium_program(Netprov httpd/cgi-bin/Netprov)
_medium_program(Devrestart httpd/cgi-bin/Devrestart)
_medium_program(Fleetview httpd/cgi-bin/Fleetview)

file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/medium-manifest.txt CONTENT "${_medium_entries}")

add_custom_target(medium
  COMMAND ${CMAKE_COMMAND}
          -DMEDIUM_DIR=${QUELLIN_MEDIUM_DIR}
          -DDIST_DIR=${PROJECT_SOURCE_DIR}/dist
          -DMANIFEST=${PROJECT_BINARY_DIR}/medium-manifest.txt
          -P ${CMAKE_CURRENT_LIST_DIR}/AssembleMedium.cmake
  COMMENT "Assembling the installation medium in ${QUELLIN_MEDIUM_DIR}"
  VERBATIM)
if(_medium_targets)
  add_dependencies(medium ${_medium_targets})
endif()
