# The version of a build: the release (project(), MAJOR.MINOR, set by hand),
# and a build number that grows with the history, the count of commits, with
# the commit itself beside it. MAJOR.MINOR.BUILD is what the installers, the
# file names, --version and the status file carry; every later commit of one
# history has a higher one. A tree without git history builds too, with
# build 0, or the number given.
set(MOVIK_BUILD_NUMBER "" CACHE STRING
  "Build number (empty: the count of commits in the tree's git history; 0 without one)")
set(MOVIK_BUILD_COMMIT "" CACHE STRING "Commit built (empty: the tree's git HEAD; \"unknown\" without one)")

find_package(Git QUIET)
set(movik_git_dir "")
if(GIT_FOUND)
  execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --absolute-git-dir WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    OUTPUT_VARIABLE movik_git_dir OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
  if(failed)
    set(movik_git_dir "")
  endif()
endif()

set(MOVIK_BUILD "${MOVIK_BUILD_NUMBER}")
set(MOVIK_COMMIT "${MOVIK_BUILD_COMMIT}")
if(movik_git_dir)
  if(MOVIK_BUILD STREQUAL "")
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-list --count HEAD WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
      OUTPUT_VARIABLE MOVIK_BUILD OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
  if(MOVIK_COMMIT STREQUAL "")
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --short=12 HEAD WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
      OUTPUT_VARIABLE MOVIK_COMMIT OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
  # A new commit configures again, so the number moves on with it.
  foreach(file HEAD packed-refs)
    if(EXISTS ${movik_git_dir}/${file})
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${movik_git_dir}/${file})
    endif()
  endforeach()
  execute_process(COMMAND ${GIT_EXECUTABLE} symbolic-ref -q HEAD WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    OUTPUT_VARIABLE movik_ref OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(movik_ref AND EXISTS ${movik_git_dir}/${movik_ref})
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${movik_git_dir}/${movik_ref})
  endif()
endif()
if(NOT MOVIK_BUILD MATCHES "^[0-9]+$")
  set(MOVIK_BUILD 0)
endif()
# Windows Installer and the version resource take 16 bits a field.
if(MOVIK_BUILD GREATER 65535)
  message(FATAL_ERROR "build number ${MOVIK_BUILD} is above 65535, the most a Windows version field holds")
endif()
if(MOVIK_COMMIT STREQUAL "")
  set(MOVIK_COMMIT unknown)
endif()
set(MOVIK_VERSION "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${MOVIK_BUILD}")
# For the scripts that package a build (tools/package-windows).
set(MOVIK_FULL_VERSION "${MOVIK_VERSION}" CACHE INTERNAL "MAJOR.MINOR.BUILD of this build")
message(STATUS "MOVIK ${MOVIK_VERSION}, commit ${MOVIK_COMMIT}")
