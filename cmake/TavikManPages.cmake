# Manual pages: sections 1 and 5 from the plain-text pages in docs/man/,
# section 3 from the public headers themselves.
set(_man_dir ${CMAKE_BINARY_DIR}/man)
set(_man_outputs "")
file(GLOB _man_texts ${CMAKE_SOURCE_DIR}/docs/man/*.txt)
foreach(txt ${_man_texts})
  get_filename_component(base ${txt} NAME_WE)
  get_filename_component(full ${txt} NAME)
  string(REGEX REPLACE "\\.txt$" "" page ${full})
  string(REGEX MATCH "[0-9]$" section ${page})
  set(out ${_man_dir}/man${section}/${page})
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_man_dir}/man${section}
    COMMAND ${CMAKE_COMMAND} -DIN=${txt} -DOUT=${out} -P ${CMAKE_SOURCE_DIR}/cmake/man_from_text.cmake
    DEPENDS ${txt} ${CMAKE_SOURCE_DIR}/cmake/man_from_text.cmake VERBATIM)
  list(APPEND _man_outputs ${out})
endforeach()
foreach(spec "tavikutil|client/tavikutil.h|tavikutil.h|tavikutil|client library of the tactile display suite|TAVIK(1), lumoutil(3)"
             "lumoutil|imaging/lumoutil.h|lumoutil.h|LumoUtil|image library of the tactile display suite|tavikutil(3), Bitora(1)")
  string(REPLACE "|" ";" parts "${spec}")
  list(GET parts 0 name)
  list(GET parts 1 header)
  list(GET parts 2 header_name)
  list(GET parts 3 target)
  list(GET parts 4 title)
  list(GET parts 5 see)
  set(out ${_man_dir}/man3/${name}.3)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_man_dir}/man3
    COMMAND ${CMAKE_COMMAND} -DHEADER=${CMAKE_SOURCE_DIR}/${header} -DOUT=${out} -DNAME=${name}
            -DNAME_HEADER=${header_name} -DPKG=${name} -DTARGET=${target} -DTITLE=${title} -DSEE=${see}
            -P ${CMAKE_SOURCE_DIR}/cmake/man_from_header.cmake
    DEPENDS ${CMAKE_SOURCE_DIR}/${header} ${CMAKE_SOURCE_DIR}/cmake/man_from_header.cmake VERBATIM)
  list(APPEND _man_outputs ${out})
endforeach()
add_custom_target(man ALL DEPENDS ${_man_outputs})
install(DIRECTORY ${_man_dir}/ DESTINATION ${CMAKE_INSTALL_MANDIR} COMPONENT runtime
        FILES_MATCHING PATTERN "*.[0-9]")
