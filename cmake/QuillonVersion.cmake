# The program's version text, worked out when CMake configures (the Makefile's targets configure
# on every run, so a package always names the commit it was built from).
#
#   tagged release (tag v<project version> on the commit):  0.1.0
#   after that release's tag:                              0.1.0+git12.g89d6955
#   before the release the project's version names:        0.1.0~git187.g89d6955
#
# "~" sorts before and "+" after the plain version in dpkg's order, so an upgrade between
# development packages and releases always goes forward.

# quillon_version_text(<project version> <describe> <commit count> <out variable>)
# describe is what `git describe --tags --long --always --match v[0-9]*` prints
# ("v0.1.0-12-g89d6955", or the bare hash when no tag is reachable), empty without git;
# count is the number of commits up to HEAD, used when no tag is reachable.
function(quillon_version_text project_version describe count out)
  set(text "${project_version}")
  if(describe MATCHES "^v([0-9][0-9A-Za-z.~-]*)-([0-9]+)-g([0-9a-f]+)$")
    set(tag "${CMAKE_MATCH_1}")
    set(since "${CMAKE_MATCH_2}")
    set(hash "${CMAKE_MATCH_3}")
    if(NOT (tag STREQUAL project_version AND since EQUAL 0))
      if(tag STREQUAL project_version)
        set(text "${project_version}+git${since}.g${hash}")
      else()
        set(text "${project_version}~git${since}.g${hash}")
      endif()
    endif()
  elseif(describe MATCHES "^[0-9a-f]+$" AND count MATCHES "^[0-9]+$")
    set(text "${project_version}~git${count}.g${describe}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Sets QUILLON_VERSION_TEXT from the project's version and the source tree's git history. A
# source tree that is not the top of a git work tree (an unpacked tarball, even one that lies
# inside some other repository) takes the plain project version.
# Also sets the dates the changelog and the metainfo give for it, from the commit's time (or
# SOURCE_DATE_EPOCH, or now, without git), so that the same commit always gives the same files:
# QUILLON_CHANGELOG_DATE (RFC 2822), QUILLON_RELEASE_DATE (YYYY-MM-DD), QUILLON_COMMIT_YEAR,
# QUILLON_COMMIT_EPOCH (seconds, for the manual pages' date).
function(quillon_find_version)
  set(describe "")
  set(count "")
  set(epoch "")
  find_package(Git QUIET)
  if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} -C ${PROJECT_SOURCE_DIR} rev-parse --show-toplevel
      OUTPUT_VARIABLE top OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE rc)
    if(rc EQUAL 0)
      file(REAL_PATH "${top}" top)
      file(REAL_PATH "${PROJECT_SOURCE_DIR}" source)
    endif()
    if(rc EQUAL 0 AND top STREQUAL source)
      execute_process(
        COMMAND ${GIT_EXECUTABLE} -C ${PROJECT_SOURCE_DIR} describe --tags --long --always
          --abbrev=7 --match "v[0-9]*"
        OUTPUT_VARIABLE describe OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      execute_process(COMMAND ${GIT_EXECUTABLE} -C ${PROJECT_SOURCE_DIR} rev-list --count HEAD
        OUTPUT_VARIABLE count OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      execute_process(COMMAND ${GIT_EXECUTABLE} -C ${PROJECT_SOURCE_DIR} log -1 --format=%ct
        OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    endif()
  endif()
  quillon_version_text("${PROJECT_VERSION}" "${describe}" "${count}" text)
  set(QUILLON_VERSION_TEXT "${text}" PARENT_SCOPE)

  # string(TIMESTAMP) formats SOURCE_DATE_EPOCH when it is set.
  set(saved "$ENV{SOURCE_DATE_EPOCH}")
  if(epoch MATCHES "^[0-9]+$")
    set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
  endif()
  string(TIMESTAMP changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
  string(TIMESTAMP release_date "%Y-%m-%d" UTC)
  string(TIMESTAMP year "%Y" UTC)
  string(TIMESTAMP seconds "%s" UTC)
  set(ENV{SOURCE_DATE_EPOCH} "${saved}")
  set(QUILLON_CHANGELOG_DATE "${changelog_date}" PARENT_SCOPE)
  set(QUILLON_RELEASE_DATE "${release_date}" PARENT_SCOPE)
  set(QUILLON_COMMIT_YEAR "${year}" PARENT_SCOPE)
  set(QUILLON_COMMIT_EPOCH "${seconds}" PARENT_SCOPE)
endfunction()
