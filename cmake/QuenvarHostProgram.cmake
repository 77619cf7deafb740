# Compiles a program that a cross build runs on the build machine (the icon generator, the check
# of the exe's resources) with the host's C++ compiler, and sets ${name}_PROGRAM to its path.
#   quenvar_host_program(NAME SOURCES file... [INCLUDES dir...])
function(quenvar_host_program name)
  cmake_parse_arguments(arg "" "" "SOURCES;INCLUDES" ${ARGN})
  find_program(QUENVAR_HOST_CXX NAMES c++ g++ clang++ REQUIRED)
  set(program ${CMAKE_BINARY_DIR}/host/${name})
  set(flags -std=c++20 -O2 -Wall -Wextra -Wpedantic)
  if(QUENVAR_WERROR)
    list(APPEND flags -Werror)
  endif()
  list(TRANSFORM arg_INCLUDES PREPEND -I OUTPUT_VARIABLE includes)
  set(headers)
  foreach(dir IN LISTS arg_INCLUDES)
    file(GLOB found CONFIGURE_DEPENDS ${dir}/*.h)
    list(APPEND headers ${found})
  endforeach()
  add_custom_command(
    OUTPUT ${program}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/host
    COMMAND ${QUENVAR_HOST_CXX} ${flags} ${includes} -o ${program} ${arg_SOURCES}
    DEPENDS ${arg_SOURCES} ${headers}
    COMMENT "Building ${name} for the build machine")
  add_custom_target(${name} ALL DEPENDS ${program})
  set(${name}_PROGRAM ${program} PARENT_SCOPE)
endfunction()
