# zubra32.exe's version resource (file and product version from project(),
# product name, description, original file name, copyright) and its
# application manifest, compiled with the resource compiler of the toolchain
# (windres for mingw-w64) and linked into the program. The manifest has the
# program run with the rights of whoever starts it (asInvoker: no elevation
# prompt, no file virtualisation) and declares Windows 7 to 11; it sets no
# active code page, so names stay in the system's ANSI and OEM code pages, as
# the program documents.
enable_language(RC)

# Four numbers, as the resource and the manifest want them: 2.0.0 is 2.0.0.0.
set(ZUBRA32_VERSION_PARTS ${PROJECT_VERSION_MAJOR} ${PROJECT_VERSION_MINOR})
foreach(part PATCH TWEAK)
  if("${PROJECT_VERSION_${part}}" STREQUAL "")
    list(APPEND ZUBRA32_VERSION_PARTS 0)
  else()
    list(APPEND ZUBRA32_VERSION_PARTS ${PROJECT_VERSION_${part}})
  endif()
endforeach()
list(JOIN ZUBRA32_VERSION_PARTS "," ZUBRA32_VERSION_COMMAS)
list(JOIN ZUBRA32_VERSION_PARTS "." ZUBRA32_VERSION_DOTS)

set(ZUBRA32_MANIFEST_PATH ${CMAKE_CURRENT_BINARY_DIR}/zubra32.exe.manifest)
configure_file(packaging/windows/zubra32.exe.manifest.in ${ZUBRA32_MANIFEST_PATH} @ONLY)
configure_file(packaging/windows/zubra32.rc.in ${CMAKE_CURRENT_BINARY_DIR}/zubra32.rc @ONLY)
target_sources(zubra32 PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/zubra32.rc)
# The resource is compiled again when the manifest changes.
set_property(SOURCE ${CMAKE_CURRENT_BINARY_DIR}/zubra32.rc APPEND PROPERTY OBJECT_DEPENDS ${ZUBRA32_MANIFEST_PATH})
