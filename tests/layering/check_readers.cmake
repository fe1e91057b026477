# Fails, naming the file and the line, when code under SRC opens a file for
# reading by itself instead of through the reader rule (core/input_file.h).
# An open that creates or only writes (O_CREAT, O_WRONLY, mkstemp), or opens
# a directory (O_DIRECTORY, opendir), is no read of an input file; the few
# other opens are listed below with the reason they stand apart.
# Usage: cmake -DSRC=<src dir> -P check_readers.cmake
cmake_minimum_required(VERSION 3.25)
if(NOT DEFINED SRC)
  message(FATAL_ERROR "SRC not set")
endif()
get_filename_component(SRC "${SRC}" ABSOLUTE)

# The rule itself, and the simulated platform (below the library; its own
# files keep a rule of their own, mgmt/sim/sim_file.h).
set(ZV_EXEMPT_FILES core/input_file.cpp)
set(ZV_EXEMPT_DIRS mgmt/sim)
# file|text on the line: why it is no input file of the rule.
set(ZV_EXEMPT_LINES
  # The distribution's release files: root's own /etc, where a link is the
  # distribution's doing (os-release is one on most hosts).
  "core/oss_services.cpp|release_file("
  # The library's shared database: made and checked by the library itself.
  "mgmt/sd_shared_db.cpp|openat(dir, ZVSHDB_NAME"
)

file(GLOB_RECURSE files RELATIVE "${SRC}" "${SRC}/*.h" "${SRC}/*.cpp")
list(SORT files)
set(errors "")
set(opens 0)
foreach(rel ${files})
  if(rel IN_LIST ZV_EXEMPT_FILES)
    continue()
  endif()
  get_filename_component(dir "${rel}" DIRECTORY)
  if(dir IN_LIST ZV_EXEMPT_DIRS)
    continue()
  endif()
  file(STRINGS "${SRC}/${rel}" lines
       REGEX "(^|[^A-Za-z0-9_])((fopen|freopen|open|openat|open64|creat)[ \t]*\\(|(ifstream|fstream)[ \t<])")
  foreach(line ${lines})
    if(line MATCHES "^[ \t]*(//|\\*)")
      continue()
    endif()
    math(EXPR opens "${opens} + 1")
    if(line MATCHES "O_CREAT|O_WRONLY|O_DIRECTORY|mkstemp")
      continue()
    endif()
    set(exempt FALSE)
    foreach(entry ${ZV_EXEMPT_LINES})
      string(REPLACE "|" ";" parts "${entry}")
      list(GET parts 0 where)
      list(GET parts 1 text)
      string(FIND "${line}" "${text}" at)
      if(where STREQUAL rel AND NOT at EQUAL -1)
        set(exempt TRUE)
      endif()
    endforeach()
    if(NOT exempt)
      string(STRIP "${line}" line)
      string(APPEND errors "${rel}: opens a file outside the reader rule: ${line}\n")
    endif()
  endforeach()
endforeach()

if(NOT errors STREQUAL "")
  message(FATAL_ERROR "Readers outside the rule (use CoreOpenInputFile / CoreFopenInputFile):\n${errors}")
endif()
message(STATUS "${opens} opens under src/: every read goes through the reader rule")
