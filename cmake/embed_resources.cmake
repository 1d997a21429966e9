# Writes OUTPUT, a C++ file holding the resource table of a Linux binary.
# ENTRIES: list of "type|id|file". RC_FILE: optional .rc whose STRINGTABLE
# entries (id "text") are embedded as strings (type 6, UTF-8).
set(decls "")
set(rows "")
set(n 0)

function(hex_array var content_hex)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${content_hex}")
  set(${var} "${bytes}" PARENT_SCOPE)
endfunction()

foreach(entry IN LISTS ENTRIES)
  string(REPLACE "|" ";" parts "${entry}")
  list(GET parts 0 type)
  list(GET parts 1 id)
  list(GET parts 2 file)
  file(READ "${file}" content HEX)
  string(LENGTH "${content}" hex_length)
  math(EXPR size "${hex_length} / 2")
  hex_array(bytes "${content}")
  string(APPEND decls "const unsigned char r${n}[] = {${bytes}0x00};\n")
  string(APPEND rows "    {${type}, ${id}, r${n}, ${size}},\n")
  math(EXPR n "${n} + 1")
endforeach()

if(RC_FILE)
  file(STRINGS "${RC_FILE}" rc_lines ENCODING UTF-8)
  set(in_table FALSE)
  foreach(line IN LISTS rc_lines)
    if(line MATCHES "^[ \t]*STRINGTABLE")
      set(in_table TRUE)
    elseif(in_table AND line MATCHES "^[ \t]*END")
      set(in_table FALSE)
    elseif(in_table AND line MATCHES "^[ \t]*([0-9]+)[ \t]*,?[ \t]*L?\"(.*)\"[ \t]*$")
      set(id "${CMAKE_MATCH_1}")
      set(text "${CMAKE_MATCH_2}")
      string(REPLACE "\"\"" "\"" text "${text}")
      string(HEX "${text}" text_hex)
      string(LENGTH "${text_hex}" hex_length)
      math(EXPR size "${hex_length} / 2")
      hex_array(bytes "${text_hex}")
      string(APPEND decls "const unsigned char r${n}[] = {${bytes}0x00};\n")
      string(APPEND rows "    {6, ${id}, r${n}, ${size}},\n")
      math(EXPR n "${n} + 1")
    endif()
  endforeach()
endif()

file(WRITE "${OUTPUT}.tmp" "// Generated from the module's resource files; do not edit.
#include \"platform/resources.h\"

namespace {
${decls}}  // namespace

extern \"C\" __attribute__((visibility(\"hidden\"))) const corvane::platform::EmbeddedResource
    corvane_embedded_resources[] = {
${rows}    {0, 0, nullptr, 0},
};
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
