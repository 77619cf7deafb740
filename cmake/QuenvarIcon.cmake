# Generates the icon at build time. In a cross build the generator must run on the build
# machine, so it is compiled with the host's C++ compiler rather than the target's.
function(quenvar_generate_icon output)
  set(src ${PROJECT_SOURCE_DIR}/tools/icon)
  if(CMAKE_CROSSCOMPILING)
    find_program(QUENVAR_HOST_CXX NAMES c++ g++ clang++ REQUIRED)
    set(generator ${CMAKE_BINARY_DIR}/host/make_icon)
    add_custom_command(
      OUTPUT ${generator}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/host
      COMMAND ${QUENVAR_HOST_CXX} -std=c++20 -O2 -o ${generator} ${src}/make_icon.cpp
              ${src}/icon_art.cpp
      DEPENDS ${src}/make_icon.cpp ${src}/icon_art.cpp ${src}/icon_format.h
      COMMENT "Building the icon generator for the build machine")
  else()
    set(generator $<TARGET_FILE:make_icon>)
  endif()
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${generator} ${output}
    DEPENDS ${generator}
    COMMENT "Drawing the application icon")
  add_custom_target(quenvar_icon DEPENDS ${output})
endfunction()
