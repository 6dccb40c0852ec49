# Packages made by cpack from the install rules: a .deb on Linux, a zip on
# Windows (zubra32.exe, the README, the licence, the example and SHA256SUMS,
# in one folder, with manifests for winget and scoop beside the zip), a
# tarball elsewhere. The version is project()'s; the program's banner does not
# use it.

set(ZUBRA32_DOWNLOAD_URL "https://example.org/zubra32/releases"
    CACHE STRING "Where releases are published: the winget and scoop manifests point at URL/VERSION/ZIP")
set(ZUBRA32_HOMEPAGE "https://example.org/zubra32" CACHE STRING "The project's home page, named by the scoop manifest")

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
  # After the zip, the winget and scoop manifests that name it and its hash.
  set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/manifests.cmake)
  set(CPACK_ZUBRA32_MANIFEST_TEMPLATES ${PROJECT_SOURCE_DIR}/packaging)
  set(CPACK_ZUBRA32_DOWNLOAD_URL ${ZUBRA32_DOWNLOAD_URL})
  set(CPACK_ZUBRA32_HOMEPAGE ${ZUBRA32_HOMEPAGE})
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
  # Everything but the LICENSE file: Debian keeps the licence in the package's
  # copyright file alone.
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_COMPONENTS_ALL Unspecified)
else()
  set(CPACK_GENERATOR TGZ)
endif()

if(NOT WIN32)
  # The package's copyright file (machine-readable, DEP-5) and its changelog,
  # compressed as Debian ships it (-n: no name or time stamp, so the bytes
  # stay the same from build to build). The changelog's top entry carries
  # project()'s version.
  install(FILES packaging/debian/copyright DESTINATION ${ZUBRA32_INSTALL_DOCDIR})
  configure_file(packaging/debian/changelog.in changelog @ONLY)
  if(GZIP_PROGRAM)
    add_custom_command(OUTPUT changelog.gz
      COMMAND ${GZIP_PROGRAM} -9 -n -k -f changelog
      DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog
      COMMENT "Compressing the changelog"
      VERBATIM)
    add_custom_target(zubra32_changelog ALL DEPENDS changelog.gz)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz DESTINATION ${ZUBRA32_INSTALL_DOCDIR})
  else()
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/changelog DESTINATION ${ZUBRA32_INSTALL_DOCDIR})
  endif()

  # A stripped install (cpack, cmake --install --strip) also drops the
  # compilers' version strings in .comment, as Debian's own tools strip.
  if(CMAKE_OBJCOPY)
    install(CODE "
      if(CMAKE_INSTALL_DO_STRIP)
        execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
          \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${ZUBRA32_INSTALL_BINDIR}/$<TARGET_FILE_NAME:zubra32>\"
          COMMAND_ERROR_IS_FATAL ANY)
      endif()")
  endif()
endif()

if(WIN32)
  # SHA256SUMS beside the installed files, in sha256sum's format, for every
  # file installed before it (the program as stripped): the last install rule.
  install(CODE [[
    set(zubra32_root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
    set(zubra32_files ${CMAKE_INSTALL_MANIFEST_FILES})
    list(SORT zubra32_files)
    set(zubra32_sums "")
    foreach(zubra32_file IN LISTS zubra32_files)
      file(RELATIVE_PATH zubra32_name "${zubra32_root}" "${zubra32_file}")
      file(SHA256 "${zubra32_file}" zubra32_hash)
      string(APPEND zubra32_sums "${zubra32_hash}  ${zubra32_name}\n")
    endforeach()
    file(WRITE "${zubra32_root}/SHA256SUMS" "${zubra32_sums}")
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${zubra32_root}/SHA256SUMS")
  ]])
endif()

include(CPack)
