# The one place that sets compiler warnings: every target that the project's
# own folders define (tools, libraries, tests, generators, fuzz targets,
# benchmarks) gets them. Targets of other projects built along (GoogleTest
# from its sources in cross builds) keep their own.
#   PIXMAR_WARNINGS_AS_ERRORS=ON turns every warning into an error, as CI does.
option(PIXMAR_WARNINGS_AS_ERRORS "Treat compiler warnings as errors" OFF)

function(pixmar_add_warnings directory)
  get_property(targets DIRECTORY "${directory}" PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY)$")
      target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
      if(PIXMAR_WARNINGS_AS_ERRORS)
        target_compile_options(${target} PRIVATE -Werror)
      endif()
    endif()
  endforeach()
  get_property(subdirectories DIRECTORY "${directory}" PROPERTY SUBDIRECTORIES)
  foreach(subdirectory IN LISTS subdirectories)
    cmake_path(IS_PREFIX PROJECT_SOURCE_DIR "${subdirectory}" NORMALIZE inside)
    if(inside)
      pixmar_add_warnings("${subdirectory}")
    endif()
  endforeach()
endfunction()
