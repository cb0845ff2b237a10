# Writes the identity a built program carries into OUTPUT, when it differs
# from what OUTPUT holds: PREFIX ("plc_do_test 1.0.0 armhf"), then "commit"
# and the commit checked out in SOURCE_DIR ("+modified" when tracked files
# differ from it; "unknown" outside a git checkout). Run at every build, so
# that a binary names the commit it was built from; an unchanged identity
# leaves OUTPUT untouched, so that nothing is compiled again for it.
#   cmake -DSOURCE_DIR=dir -DPREFIX=text -DOUTPUT=file -P build_identity.cmake
cmake_policy(VERSION 3.25)
execute_process(COMMAND git describe --always --abbrev=12 --dirty=+modified
                WORKING_DIRECTORY ${SOURCE_DIR}
                OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE
                ERROR_QUIET RESULT_VARIABLE failed)
if(failed OR NOT commit)
  set(commit unknown)
endif()
set(text "#define PLC_DO_TEST_IDENTITY \"${PREFIX} commit ${commit}\"\n")
if(EXISTS ${OUTPUT})
  file(READ ${OUTPUT} current)
endif()
if(NOT current STREQUAL text)
  file(WRITE ${OUTPUT} "${text}")
endif()
