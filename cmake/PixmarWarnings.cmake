# The one place that sets compiler warnings: the interface target
# pixmar_warnings, which every target of the project's own folders links
# (tools, libraries, tests, generators, fuzz targets, benchmarks). Targets of
# other projects built along (GoogleTest from its sources in cross builds)
# keep their own.
#   PIXMAR_WARNINGS_AS_ERRORS=ON turns every warning into an error, as CI does;
#   an environment variable of that name sets its default, so that a command
#   line run as the README writes it can still be held to that.
set(pixmar_warnings_as_errors OFF)
if(DEFINED ENV{PIXMAR_WARNINGS_AS_ERRORS})
  set(pixmar_warnings_as_errors "$ENV{PIXMAR_WARNINGS_AS_ERRORS}")
endif()
option(PIXMAR_WARNINGS_AS_ERRORS "Treat compiler warnings as errors" ${pixmar_warnings_as_errors})

add_library(pixmar_warnings INTERFACE)
target_compile_options(pixmar_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wmissing-declarations -Wconversion
  $<$<BOOL:${PIXMAR_WARNINGS_AS_ERRORS}>:-Werror>)
