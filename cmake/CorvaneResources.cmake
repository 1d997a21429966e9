# Resources from one set of source files for both targets.
#
#   corvane_add_resources(<target> RCDATA <id> <file> [RCDATA <id> <file> ...]
#                         [RC <file.rc>])
#
# Windows: the RCDATA entries become an .rc file compiled by windres, together
# with any hand-written RC file (string table, version block, manifest).
# Linux: the RCDATA files are embedded as a table in a generated C++ file, read
# by platform/resources_posix.cpp; an RC file's string table is embedded too.
set(CORVANE_EMBED_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/embed_resources.cmake")

function(corvane_add_resources target)
  set(entries "")
  set(files "")
  set(rc_file "")
  set(args ${ARGN})
  list(LENGTH args count)
  set(i 0)
  while(i LESS count)
    list(GET args ${i} kind)
    if(kind STREQUAL "RCDATA")
      math(EXPR i_id "${i} + 1")
      math(EXPR i_file "${i} + 2")
      list(GET args ${i_id} id)
      list(GET args ${i_file} file)
      get_filename_component(file "${file}" ABSOLUTE)
      list(APPEND entries "10|${id}|${file}")
      list(APPEND files "${file}")
      math(EXPR i "${i} + 3")
    elseif(kind STREQUAL "RC")
      math(EXPR i_file "${i} + 1")
      list(GET args ${i_file} rc_file)
      get_filename_component(rc_file "${rc_file}" ABSOLUTE)
      math(EXPR i "${i} + 2")
    else()
      message(FATAL_ERROR "corvane_add_resources: unknown keyword ${kind}")
    endif()
  endwhile()

  set(out_dir "${CMAKE_CURRENT_BINARY_DIR}/${target}_resources")
  if(WIN32)
    set(rc_text "#include <windows.h>\n")
    foreach(entry IN LISTS entries)
      string(REPLACE "|" ";" parts "${entry}")
      list(GET parts 1 id)
      list(GET parts 2 file)
      string(APPEND rc_text "${id} RCDATA \"${file}\"\n")
    endforeach()
    if(rc_file)
      string(APPEND rc_text "#include \"${rc_file}\"\n")
    endif()
    file(CONFIGURE OUTPUT "${out_dir}/resources.rc" CONTENT "${rc_text}")
    target_sources(${target} PRIVATE "${out_dir}/resources.rc")
    set(depends ${files})
    if(rc_file)
      list(APPEND depends "${rc_file}")
      get_filename_component(rc_dir "${rc_file}" DIRECTORY)
      file(GLOB rc_inputs "${rc_dir}/*")
      list(APPEND depends ${rc_inputs})
    endif()
    set_source_files_properties("${out_dir}/resources.rc" PROPERTIES OBJECT_DEPENDS "${depends}")
  else()
    set(output "${out_dir}/embedded_resources.cpp")
    string(REPLACE ";" "\\;" entries_arg "${entries}")
    add_custom_command(
      OUTPUT "${output}"
      COMMAND ${CMAKE_COMMAND} "-DOUTPUT=${output}" "-DENTRIES=${entries}" "-DRC_FILE=${rc_file}"
              -P "${CORVANE_EMBED_SCRIPT}"
      DEPENDS ${files} ${rc_file} "${CORVANE_EMBED_SCRIPT}"
      COMMENT "Embedding resources of ${target}"
      VERBATIM)
    target_sources(${target} PRIVATE "${output}")
  endif()
endfunction()
