# Run by cpack after it made the Windows zip (CPACK_POST_BUILD_SCRIPTS): fills
# in the winget and scoop manifest templates of packaging/ with the version,
# the zip's file name, download address and SHA-256, and writes them beside
# the zip, in winget/ and scoop/.
foreach(zubra32_package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT zubra32_package MATCHES "\\.zip$")
    continue()
  endif()
  get_filename_component(ZIP_NAME "${zubra32_package}" NAME)
  # The package is still in cpack's staging folder; it goes to this one.
  set(ZIP_DIR "${CPACK_PACKAGE_DIRECTORY}")
  string(REGEX REPLACE "\\.zip$" "" ZIP_FOLDER "${ZIP_NAME}")
  file(SHA256 "${zubra32_package}" ZIP_SHA256)
  string(TOUPPER "${ZIP_SHA256}" ZIP_SHA256_UPPER)
  set(VERSION "${CPACK_PACKAGE_VERSION}")
  set(ZIP_URL "${CPACK_ZUBRA32_DOWNLOAD_URL}/${VERSION}/${ZIP_NAME}")
  set(HOMEPAGE "${CPACK_ZUBRA32_HOMEPAGE}")

  file(REMOVE_RECURSE "${ZIP_DIR}/winget" "${ZIP_DIR}/scoop")
  file(GLOB zubra32_templates RELATIVE "${CPACK_ZUBRA32_MANIFEST_TEMPLATES}"
       "${CPACK_ZUBRA32_MANIFEST_TEMPLATES}/winget/*.in" "${CPACK_ZUBRA32_MANIFEST_TEMPLATES}/scoop/*.in")
  foreach(zubra32_template IN LISTS zubra32_templates)
    string(REGEX REPLACE "\\.in$" "" zubra32_manifest "${zubra32_template}")
    configure_file("${CPACK_ZUBRA32_MANIFEST_TEMPLATES}/${zubra32_template}"
                   "${ZIP_DIR}/${zubra32_manifest}" @ONLY NEWLINE_STYLE LF)
    message(STATUS "Manifest ${ZIP_DIR}/${zubra32_manifest} for ${ZIP_NAME}")
  endforeach()
endforeach()
