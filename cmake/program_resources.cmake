# relocator_program_resources(TARGET NAME FILE DESCRIPTION LEVEL WHY): gives a Windows program its
# version resource and application manifest (execution level LEVEL, with WHY as the manifest's
# comment), made from cmake/program.rc.in and cmake/program.manifest.in.
function(relocator_program_resources target name file description level why)
  set(RC_NAME ${name})
  set(RC_FILE ${file})
  set(RC_DESCRIPTION ${description})
  set(RC_LEVEL ${level})
  set(RC_LEVEL_WHY ${why})
  set(RC_MANIFEST ${name}.manifest)
  set(dir ${CMAKE_BINARY_DIR}/generated/resources)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/program.manifest.in ${dir}/${name}.manifest @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/program.rc.in ${dir}/${name}.rc @ONLY)
  set(object ${CMAKE_CURRENT_BINARY_DIR}/${name}_res.o)
  add_custom_command(OUTPUT ${object}
    COMMAND ${CMAKE_RC_COMPILER} ${dir}/${name}.rc -O coff -o ${object}
    DEPENDS ${dir}/${name}.rc ${dir}/${name}.manifest
    WORKING_DIRECTORY ${dir}
    VERBATIM)
  add_custom_target(${name}_resource DEPENDS ${object})
  target_sources(${target} PRIVATE ${object})
endfunction()
