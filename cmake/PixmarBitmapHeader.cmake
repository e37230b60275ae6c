# pixmar_add_bitmap_header(<target> BITMAPS <file.bmp>... [MAGIC_PINK])
#
# Generates, at build time, one header per bitmap in the build tree (never in
# the source tree) and adds its folder to <target>'s include path, so the
# program writes #include "logo.bmp.h". A header is made again when its bitmap
# or the tool changes. The tool derives the macro and array names from the path
# it is given, so it runs on a copy under the bitmap's bare file name:
# assets/logo.bmp gives LOGO_WIDTH and logo_Bitmap. MAGIC_PINK turns the
# Magic Pink pair rule on.
include_guard(GLOBAL)

function(pixmar_add_bitmap_header target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "MAGIC_PINK" "" "BITMAPS")
  if(arg_UNPARSED_ARGUMENTS OR NOT arg_BITMAPS)
    message(FATAL_ERROR "pixmar_add_bitmap_header(<target> BITMAPS <file.bmp>... [MAGIC_PINK])")
  endif()
  if(NOT TARGET Pixmar::pixmar)
    message(FATAL_ERROR "pixmar_add_bitmap_header: Pixmar::pixmar is not defined; use find_package(Pixmar) or add_subdirectory first")
  endif()

  set(switch "")
  if(arg_MAGIC_PINK)
    set(switch "-MP")
  endif()
  set(folder "${CMAKE_CURRENT_BINARY_DIR}/pixmar_headers/${target}")
  file(MAKE_DIRECTORY "${folder}")

  set(headers "")
  foreach(bitmap IN LISTS arg_BITMAPS)
    get_filename_component(source "${bitmap}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    get_filename_component(name "${source}" NAME)
    # The macros take the name up to its last dot, the array up to its first:
    # both must be C identifiers.
    string(REGEX REPLACE "\\.[^.]*$" "" stem "${name}")
    if(NOT stem MATCHES "^[A-Za-z_][A-Za-z0-9_]*$")
      string(REGEX REPLACE "[^A-Za-z0-9_]" "_" suggestion "${stem}")
      if(suggestion STREQUAL "" OR suggestion MATCHES "^[0-9]")
        set(suggestion "image_${suggestion}")
      endif()
      get_filename_component(extension "${name}" LAST_EXT)
      string(TOUPPER "${stem}" macro_prefix)
      string(REGEX REPLACE "\\..*$" "" array_prefix "${name}")
      message(FATAL_ERROR
        "pixmar_add_bitmap_header: the bitmap '${source}' would give the C names "
        "'${macro_prefix}_WIDTH' and '${array_prefix}_Bitmap', which are not valid identifiers. "
        "Rename the file so that the part before its extension holds only letters, digits "
        "and underscores and does not start with a digit (for example '${suggestion}${extension}').")
    endif()

    set(header "${folder}/${name}.h")
    add_custom_command(
      OUTPUT "${header}"
      COMMAND "${CMAKE_COMMAND}" -E copy "${source}" "${folder}/${name}"
      COMMAND Pixmar::pixmar ${switch} "${name}"
      COMMAND "${CMAKE_COMMAND}" -E remove "${folder}/${name}"
      WORKING_DIRECTORY "${folder}"
      DEPENDS "${source}" Pixmar::pixmar "$<TARGET_FILE:Pixmar::pixmar>"
      COMMENT "Converting ${name} into ${name}.h"
      VERBATIM)
    list(APPEND headers "${header}")
  endforeach()

  target_sources(${target} PRIVATE ${headers})
  target_include_directories(${target} PRIVATE "${folder}")
endfunction()
