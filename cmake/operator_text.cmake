# The operator's text, README.txt of every bundle and package and of
# `cmake --install`: the part of README.md between its opening comment and
# "<!-- end of the operator's text -->", without Markdown's backquotes, so
# that README's first screen and the text beside the binary are one text.
# Sets plc_operator_text to the file it writes.
set(plc_readme ${PROJECT_SOURCE_DIR}/README.md)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${plc_readme})
file(READ ${plc_readme} plc_readme_text)
string(FIND "${plc_readme_text}" "-->\n" plc_text_begin)
string(FIND "${plc_readme_text}" "<!-- end of the operator's text -->" plc_text_end)
if(plc_text_begin EQUAL -1 OR plc_text_end LESS plc_text_begin)
  message(FATAL_ERROR "README.md holds no operator's text between its opening comment and "
                      "\"<!-- end of the operator's text -->\"")
endif()
math(EXPR plc_text_begin "${plc_text_begin} + 4")
math(EXPR plc_text_length "${plc_text_end} - ${plc_text_begin}")
string(SUBSTRING "${plc_readme_text}" ${plc_text_begin} ${plc_text_length} plc_text)
string(REPLACE "`" "" plc_text "${plc_text}")
set(plc_operator_text ${CMAKE_BINARY_DIR}/README.txt)
file(CONFIGURE OUTPUT ${plc_operator_text} CONTENT "${plc_text}" @ONLY)
