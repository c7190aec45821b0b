# Writes OUT, a header defining ZONEFIT_VERSION: git describe of the sources in SRC, else
# FALLBACK. Run at every build rather than at configure time, so that records and checkpoints
# name the commit that made them, not the one the build directory was configured at. OUT is
# replaced only when the version changed: a build with nothing new recompiles nothing.
# With CHECK (a header written before) instead of OUT, fails unless CHECK holds the version now.
set(version "${FALLBACK}")
find_program(git_program git)
if(git_program)
  execute_process(COMMAND ${git_program} describe --always --dirty
                  WORKING_DIRECTORY ${SRC}
                  OUTPUT_VARIABLE described OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE result ERROR_QUIET)
  # Only the characters of a tag, a hash and -dirty go into a C string.
  if(result EQUAL 0 AND described MATCHES "^[A-Za-z0-9._+-]+$")
    set(version "${described}")
  endif()
endif()
set(content "// Written by cmake/version.cmake at build time.\n#define ZONEFIT_VERSION \"${version}\"\n")
if(CHECK)
  file(READ "${CHECK}" written)
  if(NOT written STREQUAL content)
    message(FATAL_ERROR "${CHECK} holds another version than the sources' ${version}: rebuild")
  endif()
  return()
endif()
file(WRITE "${OUT}.tmp" "${content}")
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${OUT}.tmp" "${OUT}")
file(REMOVE "${OUT}.tmp")
