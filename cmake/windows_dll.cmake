# zr.dll: exports named by api/zr.def, Winsock, start-up code, resources; the import library
# and zr.h beside the DLL.
target_sources(zr PRIVATE src/platform/win32/dllmain.cpp src/platform/win32/zr.rc)
target_link_libraries(zr PRIVATE ws2_32 advapi32)
set_target_properties(zr PROPERTIES PREFIX "")
target_include_directories(zr PRIVATE src ${CMAKE_CURRENT_BINARY_DIR}/generated)
configure_file(src/platform/win32/zr_version.h.in ${CMAKE_CURRENT_BINARY_DIR}/generated/zr_version.h @ONLY)

set(ZR_LINK_DEF ${CMAKE_CURRENT_BINARY_DIR}/zr-link.def)
set(ZR_IMPORT_DEF ${CMAKE_CURRENT_BINARY_DIR}/zr-import.def)

if(MINGW)
  # windres reads the resource script as UTF-8.
  set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 65001")
  # Nothing but Windows' own DLLs at run time: libgcc, libstdc++ and winpthread linked in.
  target_link_options(zr PRIVATE -static-libgcc -static-libstdc++ -static)
  find_program(ZR_DLLTOOL NAMES ${ZR_MINGW_TRIPLE}-dlltool dlltool)
  # The export aliases come from the compiled symbols (see cmake/export_defs.cmake).
  add_custom_command(
    OUTPUT ${ZR_LINK_DEF} ${ZR_IMPORT_DEF}
    COMMAND ${CMAKE_COMMAND} -DDEF=${CMAKE_CURRENT_SOURCE_DIR}/api/zr.def -DMODE=gnu
            -DPOINTER_SIZE=${CMAKE_SIZEOF_VOID_P} -DNM=${CMAKE_NM} -DARCHIVE=$<TARGET_FILE:zr_static>
            -DOUT_LINK=${ZR_LINK_DEF} -DOUT_IMPORT=${ZR_IMPORT_DEF}
            -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/export_defs.cmake
    DEPENDS zr_static ${CMAKE_CURRENT_SOURCE_DIR}/api/zr.def ${CMAKE_CURRENT_SOURCE_DIR}/cmake/export_defs.cmake
    COMMENT "Export names of zr.dll from api/zr.def"
    VERBATIM)
  target_sources(zr PRIVATE ${ZR_LINK_DEF})
  # The import library the linker writes names the exports as undecorated cdecl symbols;
  # callers compiled with zr.h want the stdcall ones, so it is rebuilt from the import def.
  if(ZR_DLLTOOL)
    add_custom_command(TARGET zr POST_BUILD
      COMMAND ${ZR_DLLTOOL} -d ${ZR_IMPORT_DEF} -D $<TARGET_FILE_NAME:zr> -l $<TARGET_LINKER_FILE:zr>
      VERBATIM)
  endif()
else()
  # The C runtime linked in as well, so that zr.dll needs no redistributable.
  set_property(TARGET zr_protocol zr_objects zr PROPERTY MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
  add_custom_command(
    OUTPUT ${ZR_LINK_DEF}
    COMMAND ${CMAKE_COMMAND} -DDEF=${CMAKE_CURRENT_SOURCE_DIR}/api/zr.def -DMODE=msvc
            -DPOINTER_SIZE=${CMAKE_SIZEOF_VOID_P} -DOUT_LINK=${ZR_LINK_DEF}
            -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/export_defs.cmake
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/api/zr.def ${CMAKE_CURRENT_SOURCE_DIR}/cmake/export_defs.cmake
    VERBATIM)
  target_sources(zr PRIVATE ${ZR_LINK_DEF})
endif()

add_custom_command(TARGET zr POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${CMAKE_CURRENT_SOURCE_DIR}/api/zr.h $<TARGET_FILE_DIR:zr>/zr.h
  VERBATIM)
