# pixmar_add_bitmap_header(<target> BITMAPS <file.bmp>... [MAGIC_PINK])
# pixmar_add_bitmap_header(<target> BITMAP <file.bmp> NAME <c_name> [MAGIC_PINK])
#
# Generates, at build time, one header per bitmap in the build tree (never in
# the source tree) and adds its folder to <target>'s include path. A header is
# made again when its bitmap or the tool changes. The tool derives the macro
# and array names from the path it is given, so it runs on a stand-in:
#   BITMAPS: under each bitmap's bare file name. assets/logo.bmp gives the
#            header logo.bmp.h with LOGO_WIDTH, LOGO_HEIGHT, LOGO_SIZE and
#            logo_Bitmap; the name before the extension must be a C identifier.
#   NAME:    under <c_name>.bmp, whatever the bitmap's file is called.
#            art/2x/my-logo.bmp with NAME hud_logo gives hud_logo.bmp.h with
#            HUD_LOGO_WIDTH, ... and hud_logo_Bitmap. <c_name> must be a C
#            identifier.
# Two bitmaps that would give one header in a target are refused. MAGIC_PINK
# turns the Magic Pink pair rule on.
#
# The stand-in is a symbolic link made once, at configure time, so that the
# build runs one process per header: pixmar itself. Where no link can be made
# (Windows without the privilege), or where PIXMAR_BITMAP_COPIES is set, each
# conversion copies the bitmap, converts the copy and removes it, through this
# file run as a script; a refused bitmap then leaves nothing behind either.

# Script mode: the copy, the conversion and the removal of one header.
#   cmake -DPIXMAR_TOOL=... -DPIXMAR_SWITCH=... -DPIXMAR_SOURCE=... -DPIXMAR_NAME=... -P PixmarBitmapHeader.cmake
if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  file(REMOVE "${PIXMAR_NAME}")  # a link left from a configure that made links: never copy through it
  execute_process(COMMAND "${CMAKE_COMMAND}" -E copy "${PIXMAR_SOURCE}" "${PIXMAR_NAME}" RESULT_VARIABLE status)
  if(status EQUAL 0)
    execute_process(COMMAND "${PIXMAR_TOOL}" ${PIXMAR_SWITCH} "${PIXMAR_NAME}" RESULT_VARIABLE status)
  endif()
  file(REMOVE "${PIXMAR_NAME}")
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "pixmar did not convert ${PIXMAR_SOURCE} (${status})")
  endif()
  return()
endif()

include_guard(GLOBAL)

# Converts `source` for `target` through a stand-in named `name` (a bare
# file name, such as logo.bmp) in `folder`, into `name`.h there.
function(_pixmar_add_one_header target source name switch folder)
  # One header a stand-in name in a target's folder; names that differ only in
  # case would also clash on a case-blind file system and in the macros.
  string(TOLOWER "${name}" key)
  get_property(earlier TARGET ${target} PROPERTY "PIXMAR_BITMAP_${key}")
  if(earlier)
    message(FATAL_ERROR
      "pixmar_add_bitmap_header: '${earlier}' and '${source}' would both become the header "
      "'${name}.h' of target '${target}', with the same C names. Rename one of them, "
      "give one another NAME, or list a bitmap only once.")
  endif()
  set_property(TARGET ${target} PROPERTY "PIXMAR_BITMAP_${key}" "${source}")

  set(header "${folder}/${name}.h")
  get_filename_component(file_name "${source}" NAME)
  set(linked FALSE)
  file(REMOVE "${folder}/${name}")
  if(NOT PIXMAR_BITMAP_COPIES)
    file(CREATE_LINK "${source}" "${folder}/${name}" RESULT link_result SYMBOLIC)
    if(link_result EQUAL 0)
      set(linked TRUE)
    endif()
  endif()
  if(linked)
    set(convert Pixmar::pixmar ${switch} "${name}")
  else()
    set(convert "${CMAKE_COMMAND}" "-DPIXMAR_TOOL=$<TARGET_FILE:Pixmar::pixmar>" "-DPIXMAR_SWITCH=${switch}"
                "-DPIXMAR_SOURCE=${source}" "-DPIXMAR_NAME=${name}" -P "${CMAKE_CURRENT_FUNCTION_LIST_FILE}")
  endif()
  add_custom_command(
    OUTPUT "${header}"
    COMMAND ${convert}
    WORKING_DIRECTORY "${folder}"
    DEPENDS "${source}" Pixmar::pixmar "$<TARGET_FILE:Pixmar::pixmar>"
    COMMENT "Converting ${file_name} into ${name}.h"
    VERBATIM)
  target_sources(${target} PRIVATE "${header}")
endfunction()

function(pixmar_add_bitmap_header target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "MAGIC_PINK" "BITMAP;NAME" "BITMAPS")
  set(usage "pixmar_add_bitmap_header(<target> BITMAPS <file.bmp>... [MAGIC_PINK]) or "
            "pixmar_add_bitmap_header(<target> BITMAP <file.bmp> NAME <c_name> [MAGIC_PINK])")
  if(arg_UNPARSED_ARGUMENTS OR (arg_BITMAPS AND (arg_BITMAP OR arg_NAME)) OR
     (NOT arg_BITMAPS AND NOT (arg_BITMAP AND arg_NAME)))
    message(FATAL_ERROR ${usage})
  endif()
  if(NOT TARGET Pixmar::pixmar)
    message(FATAL_ERROR "pixmar_add_bitmap_header: Pixmar::pixmar is not defined; use find_package(Pixmar) or add_subdirectory first")
  endif()

  set(switch "")
  set(options "")  # the call's options, which a suggested call keeps
  if(arg_MAGIC_PINK)
    set(switch "-MP")
    set(options " MAGIC_PINK")
  endif()
  set(folder "${CMAKE_CURRENT_BINARY_DIR}/pixmar_headers/${target}")
  file(MAKE_DIRECTORY "${folder}")
  target_include_directories(${target} PRIVATE "${folder}")

  if(arg_NAME)
    get_filename_component(source "${arg_BITMAP}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    if(NOT arg_NAME MATCHES "^[A-Za-z_][A-Za-z0-9_]*$")
      message(FATAL_ERROR
        "pixmar_add_bitmap_header: NAME '${arg_NAME}' for '${source}' is not a C identifier: "
        "it names the array '${arg_NAME}_Bitmap' and the macros that start with it, so it may hold "
        "only letters, digits and underscores and may not start with a digit.")
    endif()
    _pixmar_add_one_header(${target} "${source}" "${arg_NAME}.bmp" "${switch}" "${folder}")
    return()
  endif()

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
      # The suggested call quotes the path as CMake reads it, on a line of its
      # own that CMake does not wrap, so that it can be pasted as it is.
      string(REPLACE "\\" "\\\\" quoted "${bitmap}")
      string(REPLACE "\"" "\\\"" quoted "${quoted}")
      string(REPLACE "$" "\\$" quoted "${quoted}")
      message(FATAL_ERROR
        "pixmar_add_bitmap_header: the bitmap '${source}' would give the C names "
        "'${macro_prefix}_WIDTH' and '${array_prefix}_Bitmap', which are not valid identifiers. "
        "Rename the file so that the part before its extension holds only letters, digits "
        "and underscores and does not start with a digit (for example '${suggestion}${extension}'), "
        "or give it a name of your choosing:\n"
        "    pixmar_add_bitmap_header(${target} BITMAP \"${quoted}\" NAME ${suggestion}${options})\n")
    endif()
    _pixmar_add_one_header(${target} "${source}" "${name}" "${switch}" "${folder}")
  endforeach()
endfunction()
