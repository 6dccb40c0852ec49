# Packages made by cpack from the install rules: a .deb on Linux, a zip on
# Windows (zubra32.exe, the README and the example, in one folder), a tarball
# elsewhere. The version is project()'s; the program's banner does not use it.

set(CPACK_PACKAGE_NAME zubra32)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Zubra32 developers")
set(CPACK_PACKAGE_CONTACT "Zubra32 developers <zubra32@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "batch editor for start-up and configuration text files")
set(CPACK_PACKAGE_DESCRIPTION [=[
Zubra32 edits plain text files in batch. A definition file names the files
to edit and says, line by line, what to do to them: add lines at their start
or end, and change, remove, extend or replace the lines that contain a text,
with environment variables put into the definition lines.

It runs without any dialogue, so it can be called from login scripts and
installers. Files are written back with CR LF line ends, only when a
directive applied to them, and replaced atomically.]=])
set(CPACK_STRIP_FILES ON)
# Directories in the package get 0755 whatever the umask of the build.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

if(WIN32 AND TARGET zubra32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
elseif(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Depends is computed from the binary by dpkg-shlibdeps (package dpkg-dev).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
else()
  set(CPACK_GENERATOR TGZ)
endif()

include(CPack)
