# Checks the stand-in's folder boundaries as a compiler sees them, and which
# folders include the outside libraries that belong to one layer only.
#   cmake -DCOMPILER=c++ -DSOURCE_DIR=... -DBUILD_DIR=... -DWORK_DIR=... -P include_boundaries.cmake
# Each probe compiles, with exactly the include folders a library is built
# with, one header it may see (which must compile) and headers it may not see
# (which must not be found).
cmake_minimum_required(VERSION 3.25)
file(MAKE_DIRECTORY ${WORK_DIR})
file(READ ${BUILD_DIR}/tests/include_folders.txt probes)
set(failures "")

# Whether `header` is found with the include folders of `library`.
function(found library folders header result)
  set(probe ${WORK_DIR}/${library}.cpp)
  file(WRITE ${probe} "#include \"${header}\"\n")
  set(flags "")
  foreach(folder IN LISTS folders)
    list(APPEND flags -I${folder})
  endforeach()
  execute_process(COMMAND ${COMPILER} -std=c++20 -fsyntax-only ${flags} ${probe}
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(status EQUAL 0)
    set(${result} TRUE PARENT_SCOPE)
  elseif(err MATCHES "No such file|file not found")
    set(${result} FALSE PARENT_SCOPE)
  else()
    message(SEND_ERROR "${library}: ${header} was found but did not compile:\n${err}")
    set(${result} FALSE PARENT_SCOPE)
  endif()
endfunction()

string(REPLACE "\n" ";" lines "${probes}")
foreach(line IN LISTS lines)
  if(line STREQUAL "")
    continue()
  endif()
  # library|folder;folder;...|allowed header|forbidden header,forbidden header
  string(REPLACE "|" ";" parts "${line}")
  list(GET parts 0 library)
  list(GET parts 1 folders)
  list(GET parts 2 allowed)
  list(GET parts 3 forbidden)
  string(REPLACE "," ";" folders "${folders}")
  string(REPLACE "," ";" forbidden "${forbidden}")
  found(${library} "${folders}" ${allowed} seen)
  if(NOT seen)
    string(APPEND failures "${library} cannot include ${allowed}, which it should see\n")
  endif()
  foreach(header IN LISTS forbidden)
    found(${library} "${folders}" ${header} seen)
    if(seen)
      string(APPEND failures "${library} can include ${header}, which it must not see\n")
    endif()
  endforeach()
endforeach()

# Outside libraries whose headers sit on the system's own include path: the
# build cannot hide them, so their includes are checked in the text.
set(owners "mujoco/|sim/engines/physics/|tests/sim/engines/physics/|tools/fit_camera/"
           "EGL/|sim/engines/physics/"
           "GL/|sim/engines/physics/"
           "cairo|sim/draw/"
           "toml\\+\\+/|sim/world/")
file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR}
     ${SOURCE_DIR}/sim/*.h ${SOURCE_DIR}/sim/*.cpp ${SOURCE_DIR}/tools/*.h
     ${SOURCE_DIR}/tools/*.cpp ${SOURCE_DIR}/tests/*.h ${SOURCE_DIR}/tests/*.cpp
     ${SOURCE_DIR}/fuzz/*.cpp ${SOURCE_DIR}/bench/*.cpp ${SOURCE_DIR}/examples/*.c)
foreach(owner IN LISTS owners)
  string(REPLACE "|" ";" parts "${owner}")
  list(POP_FRONT parts prefix)
  foreach(source IN LISTS sources)
    file(STRINGS ${SOURCE_DIR}/${source} hits REGEX "^#include <${prefix}")
    if(NOT hits)
      continue()
    endif()
    set(allowed FALSE)
    foreach(folder IN LISTS parts)
      string(FIND "${source}" "${folder}" at)
      if(at EQUAL 0)
        set(allowed TRUE)
      endif()
    endforeach()
    if(NOT allowed)
      string(APPEND failures "${source} includes <${prefix}...>, which belongs to ${parts} only\n")
    endif()
  endforeach()
endforeach()

if(failures)
  message(FATAL_ERROR "include boundaries broken:\n${failures}")
endif()
message(STATUS "every library sees the folders it may see, and no other")
