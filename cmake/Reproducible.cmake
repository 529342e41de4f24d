# One commit builds to the same bytes in any folder at any time (scripts/check-reproducible
# checks it): the build's paths stay out of what it makes, and every date it writes is the
# source's date.
#
# QV_SOURCE_DATE_EPOCH is that date: SOURCE_DATE_EPOCH when the environment sets it, or else the
# date of the commit checked out. It is read when the build is configured, so a build configured
# before a new commit keeps the older date until it is configured again.
set(QV_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
if(NOT QV_SOURCE_DATE_EPOCH)
  execute_process(COMMAND git log -1 --format=%ct WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                  OUTPUT_VARIABLE QV_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
                  ERROR_QUIET)
endif()
if(QV_SOURCE_DATE_EPOCH)
  # string(TIMESTAMP) reads it from the environment.
  set(ENV{SOURCE_DATE_EPOCH} ${QV_SOURCE_DATE_EPOCH})
else()
  message(STATUS "No SOURCE_DATE_EPOCH and no commit: dates in the packages are today's")
endif()

# Debug information and __FILE__ name files relative to the source folder; the build folder
# comes last, as the compiler applies the last map that matches and it may lie inside the
# source folder.
add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.
                    -ffile-prefix-map=${PROJECT_BINARY_DIR}=build)

if(WIN32)
  # A program's PE header carries the time it was linked; Debian's MinGW-w64 linker writes
  # SOURCE_DATE_EPOCH there when it is set, so every link runs with it.
  if(QV_SOURCE_DATE_EPOCH)
    set(CMAKE_CXX_LINKER_LAUNCHER ${CMAKE_COMMAND} -E env
        SOURCE_DATE_EPOCH=${QV_SOURCE_DATE_EPOCH})
  else()
    add_link_options(-Wl,--no-insert-timestamp)
  endif()
endif()
