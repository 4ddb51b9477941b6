# Version information of Velmora's programs, kept in an ELF section of the executable.
#
#   velmora_add_version_resource(<target>
#       [VERSION <major>[.<minor>[.<release>[.<build>]]]]   product version, default PROJECT_VERSION
#       [FILE_VERSION <…>]                                  file version, default VERSION
#       [STRINGS <language> <name> <value> [<language> <name> <value> …]])
#
# adds to the executable <target> a generated source that defines the section. Without STRINGS
# the German table 040704E4 gets Velmora's product name, description, copyright and comment.
# Values must not contain semicolons (they would split the CMake list).
#
# Layout of the section ".velmora_version" (read by app/VersionInfo.cpp):
#
#   bytes 0-51  the fixed file information: thirteen 32-bit words, little-endian whatever the
#               machine — signature 0xFEEF04BD, structure version 0x00010000, file version
#               MS and LS, product version MS and LS, flags mask 0x3F, flags 0, operating
#               system 0 (unknown: there is no code for Linux), file type 1 (application),
#               subtype 0, file date MS and LS 0. MS = major << 16 | minor,
#               LS = release << 16 | build.
#   then        string tables, each: the language key (eight hex digits, e.g. 040704E4) and a
#               zero byte, then pairs of name and value, each ending with a zero byte, then one
#               more zero byte (an empty name) that ends the table. Texts are UTF-8.
#   last        one zero byte (an empty language key) ends the list of tables.
#
#   "040704E4\0Comments\0Ein Kopierer\0\0\0" is one German table with one string.

include_guard(GLOBAL)

set_property(GLOBAL PROPERTY VELMORA_VERSION_RESOURCE_TEMPLATE
  "${CMAKE_CURRENT_LIST_DIR}/../app/VersionResource.cpp.in")

# "1.4.0.7" -> the most and least significant words, as decimal numbers.
function(_velmora_version_words version out_ms out_ls)
  string(REPLACE "." ";" numbers "${version}")
  list(LENGTH numbers count)
  if(count LESS 1 OR count GREATER 4)
    message(FATAL_ERROR "velmora_add_version_resource: bad version '${version}'")
  endif()
  while(count LESS 4)
    list(APPEND numbers 0)
    math(EXPR count "${count} + 1")
  endwhile()
  foreach(number IN LISTS numbers)
    if(NOT number MATCHES "^[0-9]+$" OR number GREATER 65535)
      message(FATAL_ERROR "velmora_add_version_resource: bad version '${version}'")
    endif()
  endforeach()
  list(GET numbers 0 major)
  list(GET numbers 1 minor)
  list(GET numbers 2 release)
  list(GET numbers 3 build)
  math(EXPR ms "(${major} << 16) | ${minor}")
  math(EXPR ls "(${release} << 16) | ${build}")
  set(${out_ms} ${ms} PARENT_SCOPE)
  set(${out_ls} ${ls} PARENT_SCOPE)
endfunction()

# Appends the four little-endian bytes of a 32-bit word to the list variable `out`.
function(_velmora_append_word out word)
  set(bytes "${${out}}")
  foreach(shift 0 8 16 24)
    math(EXPR byte "(${word} >> ${shift}) & 0xFF" OUTPUT_FORMAT HEXADECIMAL)
    string(APPEND bytes "${byte},")
  endforeach()
  set(${out} "${bytes}" PARENT_SCOPE)
endfunction()

# Appends the UTF-8 bytes of `text` and its terminating zero byte.
function(_velmora_append_text out text)
  set(bytes "${${out}}")
  string(HEX "${text}" hex)
  string(REGEX REPLACE "(..)" "0x\\1," hex "${hex}")
  set(${out} "${bytes}${hex}0x00," PARENT_SCOPE)
endfunction()

function(velmora_add_version_resource target)
  cmake_parse_arguments(VR "" "VERSION;FILE_VERSION" "STRINGS" ${ARGN})
  if(NOT VR_VERSION)
    set(VR_VERSION "${PROJECT_VERSION}")
  endif()
  if(NOT VR_FILE_VERSION)
    set(VR_FILE_VERSION "${VR_VERSION}")
  endif()
  if(NOT VR_STRINGS)
    set(VR_STRINGS
      040704E4 ProductName "Velmora"
      040704E4 FileDescription "Velmora Farbkopierer"
      040704E4 ProductVersion "${VR_VERSION}"
      040704E4 LegalCopyright "© 2026 Velmora-Entwickler"
      040704E4 Comments "Velmora macht aus Flachbettscanner und Drucker einen Farbkopierer.")
  endif()
  list(LENGTH VR_STRINGS count)
  math(EXPR rest "${count} % 3")
  if(NOT rest EQUAL 0)
    message(FATAL_ERROR "velmora_add_version_resource: STRINGS takes triples of language, name, value")
  endif()

  _velmora_version_words("${VR_FILE_VERSION}" file_ms file_ls)
  _velmora_version_words("${VR_VERSION}" product_ms product_ls)
  set(bytes "")
  foreach(word 0xFEEF04BD 0x00010000 ${file_ms} ${file_ls} ${product_ms} ${product_ls}
                0x3F 0 0 1 0 0 0)
    _velmora_append_word(bytes ${word})
  endforeach()

  # One table per language, in the order the languages first appear.
  math(EXPR last "${count} - 1")
  set(languages "")
  foreach(i RANGE 0 ${last} 3)
    list(GET VR_STRINGS ${i} language)
    string(LENGTH "${language}" length)
    if(NOT language MATCHES "^[0-9A-Fa-f]+$" OR NOT length EQUAL 8)
      message(FATAL_ERROR "velmora_add_version_resource: '${language}' is no language key")
    endif()
    list(FIND languages "${language}" known)
    if(known EQUAL -1)
      list(APPEND languages "${language}")
    endif()
  endforeach()
  foreach(language IN LISTS languages)
    _velmora_append_text(bytes "${language}")
    foreach(i RANGE 0 ${last} 3)
      math(EXPR n "${i} + 1")
      math(EXPR v "${i} + 2")
      list(GET VR_STRINGS ${i} key)
      list(GET VR_STRINGS ${n} name)
      list(GET VR_STRINGS ${v} value)
      if(key STREQUAL language)
        _velmora_append_text(bytes "${name}")
        _velmora_append_text(bytes "${value}")
      endif()
    endforeach()
    string(APPEND bytes "0x00,")
  endforeach()
  string(APPEND bytes "0x00")
  # Twelve bytes a line keep the generated source readable.
  string(REPLACE "," ";" bytes "${bytes}")
  set(VELMORA_VERSION_BYTES "")
  set(column 0)
  foreach(byte IN LISTS bytes)
    if(column EQUAL 12)
      string(APPEND VELMORA_VERSION_BYTES "\n   ")
      set(column 0)
    endif()
    string(APPEND VELMORA_VERSION_BYTES " ${byte},")
    math(EXPR column "${column} + 1")
  endforeach()
  set(VELMORA_VERSION_TARGET "${target}")

  get_property(template GLOBAL PROPERTY VELMORA_VERSION_RESOURCE_TEMPLATE)
  get_target_property(binary_dir ${target} BINARY_DIR)
  set(generated "${binary_dir}/${target}_version_resource.cpp")
  configure_file("${template}" "${generated}" @ONLY)
  target_sources(${target} PRIVATE "${generated}")
  # Nothing refers to the section's symbol; naming it as undefined keeps it in the program
  # also when the program is linked with --gc-sections.
  target_link_options(${target} PRIVATE "LINKER:--undefined=velmora_version_resource")
endfunction()
