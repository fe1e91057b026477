# Fails, naming the file and the include, when a file under SRC includes a
# header of a layer above its own, or sits in a folder outside the stack.
# Usage: cmake -DSRC=<src dir> -P check_layers.cmake
cmake_minimum_required(VERSION 3.25)
if(NOT DEFINED SRC)
  message(FATAL_ERROR "SRC not set")
endif()
get_filename_component(SRC "${SRC}" ABSOLUTE)

# Bottom to top; a file may include its own layer and those before it.
set(ZV_LAYERS mgmt/sim mgmt core frontend image boardcfg engines dispatch cli)
# The simulated driver implements the library's transport interface: these
# headers define that interface and the plain records it carries.
set(ZV_TRANSPORT_INTERFACE mgmt/transport.h mgmt/sd_types.h mgmt/fo_api.h)

function(zv_layer_of path out)
  get_filename_component(dir "${path}" DIRECTORY)
  list(FIND ZV_LAYERS "${dir}" idx)
  set(${out} ${idx} PARENT_SCOPE)
endfunction()

file(GLOB_RECURSE files RELATIVE "${SRC}" "${SRC}/*.h" "${SRC}/*.cpp")
list(SORT files)
set(errors "")
foreach(rel ${files})
  zv_layer_of("${rel}" own)
  if(own EQUAL -1)
    string(APPEND errors "${rel}: folder is not in the layer stack\n")
    continue()
  endif()
  file(STRINGS "${SRC}/${rel}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line ${lines})
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*$" "\\1" inc "${line}")
    if(own EQUAL 0 AND inc IN_LIST ZV_TRANSPORT_INTERFACE)
      continue()
    endif()
    zv_layer_of("${inc}" theirs)
    if(theirs EQUAL -1)
      string(APPEND errors "${rel}: includes \"${inc}\", which is in no layer\n")
    elseif(theirs GREATER own)
      string(APPEND errors "${rel}: includes \"${inc}\" from a layer above its own\n")
    endif()
  endforeach()
endforeach()

if(NOT errors STREQUAL "")
  message(FATAL_ERROR "Layering violations:\n${errors}")
endif()
list(LENGTH files count)
message(STATUS "${count} files include only their own layer and those below")
