# The version text from the project's version and what git describe says:
#   cmake -DSOURCE=<source tree> -P version_text_test.cmake
include(${SOURCE}/cmake/QuillonVersion.cmake)

set(failures 0)
function(expect project_version describe count want)
  quillon_version_text("${project_version}" "${describe}" "${count}" got)
  if(NOT got STREQUAL want)
    message(SEND_ERROR "'${describe}' (${count} commits) on ${project_version}: "
      "got '${got}', want '${want}'")
  endif()
endfunction()

# No git, or nothing git could say: the project's version as it is.
expect(0.1.0 "" "" 0.1.0)
expect(0.1.0 "" 12 0.1.0)
# No tag reachable: the commit count and the hash, sorting before the release.
expect(0.1.0 89d6955 140 0.1.0~git140.g89d6955)
expect(0.1.0 89d6955 "" 0.1.0)
# The release's own tag on the commit built: the plain version.
expect(0.1.0 v0.1.0-0-g89d6955 140 0.1.0)
# Commits after the release: after it in dpkg's order.
expect(0.1.0 v0.1.0-12-g89d6955 140 0.1.0+git12.g89d6955)
# The project already names the next release: before that release.
expect(0.2.0 v0.1.0-3-gabcdef0 140 0.2.0~git3.gabcdef0)
expect(0.2.0 v0.1.0-0-gabcdef0 140 0.2.0~git0.gabcdef0)
expect(1.0.0 v1.0.0-rc1-5-g1234567 9 1.0.0~git5.g1234567)
# A tag that is not a version is ignored rather than trusted.
expect(0.1.0 "vnext-2-g89d6955" 140 0.1.0)

# dpkg agrees with the order the texts promise, where dpkg is there.
find_program(DPKG dpkg)
if(DPKG)
  foreach(pair "0.1.0~git140.g89d6955 lt 0.1.0" "0.1.0 lt 0.1.0+git12.g89d6955"
      "0.1.0+git12.g89d6955 lt 0.1.0+git13.g0000000" "0.1.0+git99.gfff lt 0.2.0~git3.gabcdef0")
    separate_arguments(args UNIX_COMMAND "${pair}")
    execute_process(COMMAND ${DPKG} --compare-versions ${args} RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(SEND_ERROR "dpkg does not agree: ${pair}")
    endif()
  endforeach()
endif()
