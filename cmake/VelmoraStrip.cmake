# Run by CPack on the staging folder before it packs it: strips every ELF file as Debian's own
# packages are stripped. --strip-unneeded keeps what the dynamic loader needs, and no option here
# touches allocated sections such as ".velmora_version", the program's version information that
# the about box reads from the installed file at run time (checked below, so a stripped package
# never loses it unnoticed).
if(NOT CPACK_VELMORA_STRIP)
  message(FATAL_ERROR "VelmoraStrip: no strip program (CMAKE_STRIP is empty)")
endif()
file(GLOB_RECURSE files LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
set(stripped 0)
foreach(file IN LISTS files)
  if(IS_SYMLINK "${file}")
    continue()
  endif()
  file(READ "${file}" magic LIMIT 4 HEX)
  if(NOT magic STREQUAL "7f454c46")
    continue()
  endif()
  execute_process(
    COMMAND "${CPACK_VELMORA_STRIP}" --strip-unneeded --remove-section=.comment
            --remove-section=.note "${file}"
    RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "VelmoraStrip: could not strip ${file}")
  endif()
  math(EXPR stripped "${stripped} + 1")
  if(file MATCHES "/bin/velmora$")
    execute_process(COMMAND "${CPACK_VELMORA_OBJDUMP}" -h "${file}" OUTPUT_VARIABLE sections)
    if(NOT sections MATCHES "\\.velmora_version")
      message(FATAL_ERROR "VelmoraStrip: ${file} lost its version information")
    endif()
  endif()
endforeach()
if(stripped EQUAL 0)
  message(FATAL_ERROR "VelmoraStrip: no program or library in ${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
endif()
