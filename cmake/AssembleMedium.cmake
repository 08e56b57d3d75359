# cmake -DMEDIUM_DIR=... -DDIST_DIR=... -DMANIFEST=... -P AssembleMedium.cmake
# Lays out the medium afresh: the installation tree from dist/, then every
# program and page named in the manifest ("source<TAB>destination" lines).
foreach(variable MEDIUM_DIR DIST_DIR MANIFEST)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "${variable} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE ${MEDIUM_DIR})
file(MAKE_DIRECTORY ${MEDIUM_DIR})

# file(COPY) keeps symbolic links as links (httpd/cgi-bin/nph-Netprov).
file(GLOB _dist_entries LIST_DIRECTORIES true ${DIST_DIR}/*)
file(COPY ${_dist_entries} DESTINATION ${MEDIUM_DIR} USE_SOURCE_PERMISSIONS)

# Empty folders of the tree are not kept by version control.
foreach(folder firmware log config syslog httpd/cgi-bin httpd/htdocs httpd/conf httpd/bin)
  file(MAKE_DIRECTORY ${MEDIUM_DIR}/${folder})
endforeach()
# The registry is created by the console on its first start; a medium never
# carries one.
file(REMOVE ${MEDIUM_DIR}/base.db)

file(STRINGS ${MANIFEST} _lines)
foreach(line IN LISTS _lines)
  string(REPLACE "\t" ";" pair "${line}")
  list(LENGTH pair count)
  if(NOT count EQUAL 2)
    message(FATAL_ERROR "bad manifest line: ${line}")
  endif()
  list(GET pair 0 source)
  list(GET pair 1 destination)
  get_filename_component(folder ${MEDIUM_DIR}/${destination} DIRECTORY)
  get_filename_component(name ${destination} NAME)
  file(MAKE_DIRECTORY ${folder})
  file(COPY ${source} DESTINATION ${folder} USE_SOURCE_PERMISSIONS)
  get_filename_component(source_name ${source} NAME)
  if(NOT source_name STREQUAL name)
    file(RENAME ${folder}/${source_name} ${MEDIUM_DIR}/${destination})
  endif()
endforeach()
