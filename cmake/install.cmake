# Version checks, install rules, the CMake package, zr.pc, man pages and the Debian package.
# Included at the end of CMakeLists.txt. The project version there is the one number: zr.h's
# macros must agree with it (checked here), and it feeds ZRVersion, the soname, the DLL's
# version resource and the packages.

# ---- Version ----------------------------------------------------------------------------------
file(STRINGS ${CMAKE_CURRENT_SOURCE_DIR}/api/zr.h zr_h_version REGEX "^#define ZR_VERSION_")
foreach(part MAJOR MINOR PATCH STRING)
  set(header_${part} "")
  foreach(line IN LISTS zr_h_version)
    if(line MATCHES "^#define ZR_VERSION_${part}[ \t]+\"?([0-9.]+)\"?")
      set(header_${part} "${CMAKE_MATCH_1}")
    endif()
  endforeach()
endforeach()
if(NOT header_MAJOR STREQUAL PROJECT_VERSION_MAJOR OR NOT header_MINOR STREQUAL PROJECT_VERSION_MINOR
   OR NOT header_PATCH STREQUAL PROJECT_VERSION_PATCH OR NOT header_STRING STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "api/zr.h says version ${header_MAJOR}.${header_MINOR}.${header_PATCH} "
                      "(\"${header_STRING}\"), CMakeLists.txt ${PROJECT_VERSION}: change both")
endif()
set_property(SOURCE src/core/version.cpp APPEND PROPERTY COMPILE_DEFINITIONS
             ZR_LIBRARY_VERSION="${PROJECT_VERSION}")
if(TARGET zrsim)
  target_compile_definitions(zrsim PRIVATE ZR_PROJECT_VERSION="${PROJECT_VERSION}")
endif()
# The built library and tool agree with it (scripts/package.sh checks the packages too).
# Not in sanitizer builds: python cannot load a library built with a sanitizer runtime.
if(ZR_BUILD_TESTS AND TARGET zrtool AND NOT CMAKE_CROSSCOMPILING AND NOT ZR_SANITIZE AND NOT ZR_TSAN)
  add_test(NAME zr_version COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/scripts/check_version.sh
                                   --lib $<TARGET_FILE:zr> --tool $<TARGET_FILE:zrtool>)
endif()

# ---- Install ----------------------------------------------------------------------------------
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)
set(ZR_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/zr)
# Directories 0755 whatever the umask (Debian requires it of packages).
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS zr EXPORT zrTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES api/zr.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(WIN32)
  install(FILES api/zr.def DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()

# The tools find the library beside them ($ORIGIN/../lib), wherever the tree is moved. The
# Debian package turns this off: its library is in the system's search path.
option(ZR_INSTALL_RPATH "Installed programs find libzr relative to themselves" ON)
foreach(tool zrtool zrsim)
  if(TARGET ${tool})
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
if(TARGET zrtool AND ZR_INSTALL_RPATH AND NOT APPLE AND NOT IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  file(RELATIVE_PATH zr_bin_to_lib /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
  set_target_properties(zrtool PROPERTIES INSTALL_RPATH "\$ORIGIN/${zr_bin_to_lib}")
endif()

install(EXPORT zrTargets NAMESPACE zr:: DESTINATION ${ZR_CMAKE_DIR})
configure_package_config_file(cmake/zrConfig.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/zrConfig.cmake
                              INSTALL_DESTINATION ${ZR_CMAKE_DIR})
# A 1.x package satisfies find_package(zr 1.y) for y <= x, never 2.0; nor a 32-bit build for a
# 64-bit consumer.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/zrConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zrConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/zrConfigVersion.cmake
        DESTINATION ${ZR_CMAKE_DIR})

if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(ZR_PC_TO_PREFIX "")
  message(WARNING "zr.pc: an absolute CMAKE_INSTALL_LIBDIR makes an installed tree that cannot move")
else()
  file(RELATIVE_PATH ZR_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
endif()
configure_file(cmake/zr.pc.in ${CMAKE_CURRENT_BINARY_DIR}/zr.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zr.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

set(ZR_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/zr)
install(FILES README.md DESTINATION ${ZR_DOC_DIR})
# Debian looks for the licence as "copyright" and for the change log compressed.
install(FILES LICENSE DESTINATION ${ZR_DOC_DIR} RENAME copyright)
set(ZR_MAINTAINER "the zr developers <zr-dev@example.org>" CACHE STRING "Maintainer of the packages")
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  string(TIMESTAMP ZR_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
else()
  string(TIMESTAMP ZR_CHANGELOG_DATE "%a, %d %b %Y 00:00:00 +0000" UTC)
endif()
configure_file(cmake/changelog.in ${CMAKE_CURRENT_BINARY_DIR}/doc/changelog @ONLY)
find_program(ZR_GZIP gzip)
if(ZR_GZIP AND NOT WIN32)
  # The change log ships compressed beside the licence.
  add_custom_command(
    OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/doc/changelog.gz
    COMMAND ${ZR_GZIP} -9nkf ${CMAKE_CURRENT_BINARY_DIR}/doc/changelog
    DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/doc/changelog
    VERBATIM)
  add_custom_target(zr_changelog ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/doc/changelog.gz)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/doc/changelog.gz DESTINATION ${ZR_DOC_DIR})
endif()

# ---- Man pages from --help and --version --------------------------------------------------------
find_program(ZR_HELP2MAN help2man)
if(TARGET zrtool AND TARGET zrsim AND ZR_HELP2MAN AND ZR_GZIP AND NOT CMAKE_CROSSCOMPILING)
  set(zr_man_pages "")
  foreach(tool zrtool zrsim)
    if(tool STREQUAL "zrtool")
      set(what "control a UHF RFID reader through the zr library")
    else()
      set(what "a simulated UHF RFID reader on loopback TCP and a pseudo-terminal")
    endif()
    set(page ${CMAKE_CURRENT_BINARY_DIR}/man/${tool}.1)
    add_custom_command(
      OUTPUT ${page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
      COMMAND ${ZR_HELP2MAN} --no-info --no-discard-stderr --section=1 --source=zr
              --name=${what} --output=${page} $<TARGET_FILE:${tool}>
      COMMAND ${ZR_GZIP} -9nf ${page}
      DEPENDS ${tool}
      COMMENT "Man page of ${tool}"
      VERBATIM)
    list(APPEND zr_man_pages ${page}.gz)
  endforeach()
  add_custom_target(zr_man ALL DEPENDS ${zr_man_pages})
  install(FILES ${zr_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
elseif(TARGET zrtool)
  message(STATUS "help2man not found: no man pages (apt install help2man)")
endif()

# ---- Packages -----------------------------------------------------------------------------------
set(CPACK_PACKAGE_NAME zr)
set(CPACK_PACKAGE_VENDOR "the zr developers")
set(CPACK_PACKAGE_CONTACT "${ZR_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "control library for UHF RFID readers, with tool and simulator")
set(CPACK_PACKAGE_DESCRIPTION
    "zr talks to UHF RFID readers over a serial port or TCP through one flat C API.\n"
    "This package holds the shared library libzr.so with its header, CMake package\n"
    "and pkg-config file, the command-line tool zrtool and the reader simulator\n"
    "zrsim.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
if(NOT CPACK_GENERATOR)
  if(WIN32)
    set(CPACK_GENERATOR ZIP)
  else()
    set(CPACK_GENERATOR DEB)
  endif()
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ZR_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# Files in the control archive are taken as they are: the triggers file.
configure_file(cmake/deb-triggers ${CMAKE_CURRENT_BINARY_DIR}/deb/triggers COPYONLY)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_BINARY_DIR}/deb/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
