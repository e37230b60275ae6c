# The one place that sets compiler warnings: the interface target
# pixmar_warnings, which every target of the project's own folders links
# (tools, libraries, tests, generators, fuzz targets, benchmarks). Targets of
# other projects built along (GoogleTest from its sources in cross builds)
# keep their own.
#   PIXMAR_WARNINGS_AS_ERRORS=ON turns every warning into an error, as CI does.
option(PIXMAR_WARNINGS_AS_ERRORS "Treat compiler warnings as errors" OFF)

add_library(pixmar_warnings INTERFACE)
target_compile_options(pixmar_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wmissing-declarations -Wconversion
  $<$<BOOL:${PIXMAR_WARNINGS_AS_ERRORS}>:-Werror>)
