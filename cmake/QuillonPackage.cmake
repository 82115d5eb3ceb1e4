# Who the package comes from and what it is called, for the install rules (packaging/) and the
# Debian package: `make package` runs CPack on a release tree.
set(QUILLON_APP_ID org.quillon.Quillon)
set(QUILLON_LICENSE GPL-3.0-or-later)
set(QUILLON_MAINTAINER "The Quillon developers <developers@quillon.example.org>")

# The Debian package, quillon_<version>_amd64.deb: stripped programs, the libraries they need
# from dpkg-shlibdeps.
function(quillon_debian_package)
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME quillon)
  set(CPACK_PACKAGE_VERSION "${QUILLON_VERSION_TEXT}")
  set(CPACK_PACKAGE_CONTACT "${QUILLON_MAINTAINER}")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "player and exporter for the disks of stand-alone CCTV recorders")
  set(CPACK_PACKAGE_DESCRIPTION [=[
Quillon reads the hard disks of stand-alone CCTV video recorders (DVRs) and
the backup disks they write, attached to the workstation or as raw, split raw
and E01 evidence images. Every drive and image is opened read-only.

The desktop program, quillon, finds the recorded days on a calendar, plays up
to sixteen channels at once with sound, shows the recorder's event, system and
capture logs, saves stills and exports a span of channels as AVI files with
time-stamp subtitles and a report of every file's SHA-256.

The command-line tool, quillon-cli, does the same for scripts and batch work,
and writes sample disk images.]=])
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION video)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The Qt platform plugins are loaded at run time: dpkg-shlibdeps cannot see them.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # Stripped programs and no debug package: the .ddeb CPack writes has no copyright file and
  # leaves its files out of md5sums, which lintian rightly refuses.
  set(CPACK_STRIP_FILES ON)
  set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  set(CPACK_SOURCE_IGNORE_FILES "/build.*/;/demo/;/\\\\.git/")
  include(CPack)
endfunction()
