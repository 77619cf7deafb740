# Generates the icon at build time. In a cross build the generator must run on the build
# machine, so it is compiled with the host's C++ compiler rather than the target's.
include(QuenvarHostProgram)
function(quenvar_generate_icon output)
  if(CMAKE_CROSSCOMPILING)
    set(src ${PROJECT_SOURCE_DIR}/tools/icon)
    quenvar_host_program(make_icon SOURCES ${src}/make_icon.cpp ${src}/icon_art.cpp INCLUDES ${src})
    set(generator ${make_icon_PROGRAM})
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
