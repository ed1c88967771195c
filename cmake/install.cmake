# Version checks, install rules, the CMake package, zr.pc, man pages, zrgate's unit and the
# Debian packages (one per component: libzr1, libzr-dev, zr-tools, zrgate).
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

# Components, one Debian package each: runtime (libzr.so.1, zr.dll), dev (header, libzr.so,
# import libraries, CMake package, zr.pc), tools (zrtool, zrsim), gate (zrgate, its unit).
install(TARGETS zr EXPORT zrTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES api/zr.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
if(WIN32)
  install(FILES api/zr.def DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
endif()

# The tools find the library beside them ($ORIGIN/../lib), wherever the tree is moved. The
# Debian package turns this off: its library is in the system's search path.
option(ZR_INSTALL_RPATH "Installed programs find libzr relative to themselves" ON)
foreach(tool zrtool zrsim zrgate)
  if(TARGET ${tool})
    if(tool STREQUAL "zrgate")
      set(component gate)
    else()
      set(component tools)
    endif()
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${component})
  endif()
endforeach()
if(ZR_INSTALL_RPATH AND NOT APPLE AND NOT IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  file(RELATIVE_PATH zr_bin_to_lib /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
  foreach(tool zrtool zrgate)
    if(TARGET ${tool})
      set_target_properties(${tool} PROPERTIES INSTALL_RPATH "\$ORIGIN/${zr_bin_to_lib}")
    endif()
  endforeach()
endif()

install(EXPORT zrTargets NAMESPACE zr:: DESTINATION ${ZR_CMAKE_DIR} COMPONENT dev)
configure_package_config_file(cmake/zrConfig.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/zrConfig.cmake
                              INSTALL_DESTINATION ${ZR_CMAKE_DIR})
# A 1.x package satisfies find_package(zr 1.y) for y <= x, never 2.0; nor a 32-bit build for a
# 64-bit consumer.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/zrConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zrConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/zrConfigVersion.cmake
        DESTINATION ${ZR_CMAKE_DIR} COMPONENT dev)

if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(ZR_PC_TO_PREFIX "")
  message(WARNING "zr.pc: an absolute CMAKE_INSTALL_LIBDIR makes an installed tree that cannot move")
else()
  file(RELATIVE_PATH ZR_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
endif()
configure_file(cmake/zr.pc.in ${CMAKE_CURRENT_BINARY_DIR}/zr.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zr.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

# Documents: one directory share/doc/zr in an installed tree; in the Debian packages
# (ZR_DEBIAN_LAYOUT, scripts/package.sh) each package has its own, as Debian requires, with the
# licence as "copyright" and the change log compressed.
option(ZR_DEBIAN_LAYOUT "Install documents per Debian package (share/doc/PACKAGE)" OFF)
set(ZR_MAINTAINER "the zr developers <zr-dev@example.org>" CACHE STRING "Maintainer of the packages")
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  string(TIMESTAMP ZR_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
else()
  string(TIMESTAMP ZR_CHANGELOG_DATE "%a, %d %b %Y 00:00:00 +0000" UTC)
endif()
configure_file(cmake/changelog.in ${CMAKE_CURRENT_BINARY_DIR}/doc/changelog @ONLY)
find_program(ZR_GZIP gzip)
set(zr_changelog "")
if(ZR_GZIP AND NOT WIN32)
  add_custom_command(
    OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/doc/changelog.gz
    COMMAND ${ZR_GZIP} -9nkf ${CMAKE_CURRENT_BINARY_DIR}/doc/changelog
    DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/doc/changelog
    VERBATIM)
  add_custom_target(zr_changelog ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/doc/changelog.gz)
  set(zr_changelog ${CMAKE_CURRENT_BINARY_DIR}/doc/changelog.gz)
endif()
# The Debian package of each component.
set(zr_package_runtime libzr${PROJECT_VERSION_MAJOR})
set(zr_package_dev libzr-dev)
set(zr_package_tools zr-tools)
set(zr_package_gate zrgate)
set(zr_components runtime dev tools)
if(TARGET zrgate)
  list(APPEND zr_components gate)
endif()
if(ZR_DEBIAN_LAYOUT)
  foreach(component IN LISTS zr_components)
    set(dir ${CMAKE_INSTALL_DATADIR}/doc/${zr_package_${component}})
    install(FILES LICENSE DESTINATION ${dir} RENAME copyright COMPONENT ${component})
    if(zr_changelog)
      install(FILES ${zr_changelog} DESTINATION ${dir} COMPONENT ${component})
    endif()
  endforeach()
  install(FILES README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${zr_package_dev} COMPONENT dev)
  set(ZR_GATE_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/${zr_package_gate})
else()
  set(ZR_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/zr)
  install(FILES README.md DESTINATION ${ZR_DOC_DIR} COMPONENT runtime)
  install(FILES LICENSE DESTINATION ${ZR_DOC_DIR} RENAME copyright COMPONENT runtime)
  if(zr_changelog)
    install(FILES ${zr_changelog} DESTINATION ${ZR_DOC_DIR} COMPONENT runtime)
  endif()
  set(ZR_GATE_DOC_DIR ${ZR_DOC_DIR})
endif()

# ---- zrgate: its systemd unit (naming the installed program) and an example site ------------
if(TARGET zrgate)
  # A unit directory relative to the prefix (lib/systemd/system) or absolute (/lib/systemd/system).
  set(ZR_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE STRING "Where zrgate.service is installed")
  set(ZRGATE_PROGRAM ${CMAKE_INSTALL_FULL_BINDIR}/zrgate)
  set(ZRGATE_SITE_INI ${CMAKE_INSTALL_FULL_SYSCONFDIR}/zrgate/site.ini)
  configure_file(tools/zrgate/zrgate.service.in ${CMAKE_CURRENT_BINARY_DIR}/zrgate.service @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zrgate.service DESTINATION ${ZR_SYSTEMD_UNIT_DIR} COMPONENT gate)
  install(FILES tools/zrgate/site.ini.example DESTINATION ${ZR_GATE_DOC_DIR}/examples RENAME site.ini
          COMPONENT gate)
  # The operator's guide and the console's page, beside the example they explain.
  install(FILES docs/zrgate.md docs/console.md DESTINATION ${ZR_GATE_DOC_DIR} COMPONENT gate)
endif()

# ---- Man pages from --help and --version --------------------------------------------------------
find_program(ZR_HELP2MAN help2man)
if(ZR_HELP2MAN AND ZR_GZIP AND NOT CMAKE_CROSSCOMPILING)
  set(zr_man_pages "")
  foreach(tool zrtool zrsim zrgate)
    if(NOT TARGET ${tool})
      continue()
    endif()
    if(tool STREQUAL "zrtool")
      set(what "control a UHF RFID reader through the zr library")
      set(component tools)
    elseif(tool STREQUAL "zrsim")
      set(what "a simulated UHF RFID reader on loopback TCP and a pseudo-terminal")
      set(component tools)
    else()
      set(what "a site's UHF RFID readers to an MQTT broker")
      set(component gate)
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
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
  endforeach()
  if(zr_man_pages)
    add_custom_target(zr_man ALL DEPENDS ${zr_man_pages})
  endif()
elseif(TARGET zrtool)
  message(STATUS "help2man not found: no man pages (apt install help2man)")
endif()

# ---- Packages -----------------------------------------------------------------------------------
# Debian: one package per component, split the Debian way. Windows: one ZIP of everything.
set(CPACK_PACKAGE_NAME zr)
set(CPACK_PACKAGE_VENDOR "the zr developers")
set(CPACK_PACKAGE_CONTACT "${ZR_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "control library for UHF RFID readers, with tool and simulator")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
if(NOT CPACK_GENERATOR)
  if(WIN32)
    set(CPACK_GENERATOR ZIP)
  else()
    set(CPACK_GENERATOR DEB)
  endif()
endif()
set(CPACK_COMPONENTS_ALL ${zr_components})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ZR_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps finds libzr.so.1 in the build tree for the tools (the dependency on libzr1 is
# written below).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_CURRENT_BINARY_DIR})
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://example.org/zr")
set(zr_describe "zr talks to UHF RFID readers over a serial port or TCP through one flat C API.")
foreach(component IN LISTS zr_components)
  string(TOUPPER ${component} C)
  set(CPACK_DEBIAN_${C}_PACKAGE_NAME ${zr_package_${component}})
endforeach()
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
    "control library for UHF RFID readers\n${zr_describe}\nThis package holds the shared library.")
# The library goes into the loader cache when the package is installed or removed: the ldconfig
# trigger. (CPack also writes postinst and postrm scripts calling ldconfig, which Debian no
# longer wants: scripts/package.sh takes them out.)
configure_file(cmake/deb-triggers ${CMAKE_CURRENT_BINARY_DIR}/deb/triggers COPYONLY)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_BINARY_DIR}/deb/triggers)

set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${zr_package_runtime} (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_DEV_DESCRIPTION
    "control library for UHF RFID readers (development files)\n${zr_describe}\n"
    "This package holds the header zr.h, the link libzr.so, the CMake package\n"
    "(find_package(zr)) and the pkg-config file zr.pc.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "${zr_package_runtime} (>= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
    "command-line tool and simulator for UHF RFID readers\n${zr_describe}\n"
    "This package holds zrtool, every reader command from the command line, and\n"
    "zrsim, a simulated reader on loopback TCP and a pseudo-terminal.")

set(CPACK_DEBIAN_GATE_PACKAGE_SECTION net)
set(CPACK_DEBIAN_GATE_PACKAGE_DEPENDS "${zr_package_runtime} (>= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_GATE_DESCRIPTION
    "gateway from UHF RFID readers to an MQTT broker\n${zr_describe}\n"
    "This package holds zrgate, which runs inventories on every reader of a site\n"
    "and publishes tag events and reader states to an MQTT broker, with its\n"
    "systemd unit and an example configuration.")
foreach(component IN LISTS zr_components)
  string(TOUPPER ${component} C)
  string(REPLACE ";" "" CPACK_COMPONENT_${C}_DESCRIPTION "${CPACK_COMPONENT_${C}_DESCRIPTION}")
endforeach()
include(CPack)
