# SPDX-License-Identifier: GPL-3.0-or-later
# Writes OUT, a header naming the build's git revision. Run at every build:
#   cmake -DSRC=<source dir> -DOUT=<header> [-DREVISION=<text>] -P revision.cmake
# REVISION, when given, wins (a source tree copied out of git, as the Debian
# package build does); otherwise git describes SRC, "-dirty" when it has
# uncommitted changes. The header is rewritten only when its text changes, so
# an unchanged revision recompiles nothing.
if(NOT REVISION)
  execute_process(COMMAND git -C "${SRC}" describe --always --dirty --abbrev=12
                  OUTPUT_VARIABLE REVISION OUTPUT_STRIP_TRAILING_WHITESPACE
                  ERROR_QUIET RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR REVISION STREQUAL "")
    set(REVISION unknown)
  endif()
endif()
set(text "#define KVM_GIT_REVISION \"${REVISION}\"\n")
set(old "")
if(EXISTS "${OUT}")
  file(READ "${OUT}" old)
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUT}" "${text}")
endif()
