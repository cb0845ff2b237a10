# Writes the identity the built programs carry, after their names, into
# OUTPUT, when it differs from what OUTPUT holds: PREFIX ("1.0.0 armhf"), then "commit"
# and the commit checked out in SOURCE_DIR ("+modified" when tracked files
# differ from it; "unknown" outside a git checkout). Run at every build, so
# that a binary names the commit it was built from; an unchanged identity
# leaves OUTPUT untouched, so that nothing is compiled again for it.
#   cmake -DSOURCE_DIR=dir -DPREFIX=text -DOUTPUT=file -P build_identity.cmake
cmake_policy(VERSION 3.25)
# The commit itself, whatever tags name it (a release's tag would replace it
# in `git describe`).
execute_process(COMMAND git rev-parse --short=12 HEAD
                WORKING_DIRECTORY ${SOURCE_DIR}
                OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE
                ERROR_QUIET RESULT_VARIABLE failed)
if(failed OR NOT commit)
  set(commit unknown)
else()
  execute_process(COMMAND git status --porcelain --untracked-files=no
                  WORKING_DIRECTORY ${SOURCE_DIR}
                  OUTPUT_VARIABLE changes ERROR_QUIET)
  if(changes)
    string(APPEND commit +modified)
  endif()
endif()
# file(CONFIGURE) writes OUTPUT only when its text changes.
file(CONFIGURE OUTPUT ${OUTPUT}
     CONTENT "#define PLC_BUILD_IDENTITY \"${PREFIX} commit ${commit}\"\n" @ONLY)
