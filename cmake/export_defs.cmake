# Turns api/zr.def (the export names as applications see them) into the module-definition
# files the toolchain needs. Run with cmake -P.
#
# The export names are undecorated, except the ones written with stdcall decoration
# ("_ZRTestModeSet@8"), which keep exactly that name. The compiled symbols are decorated
# on 32-bit (ZROpen@12), so each export is tied to its symbol by an alias:
#   link def    ZROpen = ZROpen@12                     export name = internal symbol
#               _ZRTestModeSet@8 = ZRTestModeSet@8
#   import def  ZROpen@12 == ZROpen                    what callers link = what the DLL exports
#               ZRTestModeSet@8 == _ZRTestModeSet@8
# The decorated symbol of each name is looked up in the compiled library (NM on ARCHIVE), so
# nothing here knows the functions' parameter lists, and a name in zr.def that the library
# does not define stops the build.
#
# Variables: DEF, OUT_LINK, OUT_IMPORT (optional), MODE (gnu | msvc), POINTER_SIZE,
#            NM and ARCHIVE (gnu mode).
cmake_minimum_required(VERSION 3.16)

file(STRINGS "${DEF}" lines)
set(library "")
set(names "")
set(in_exports FALSE)
foreach(line IN LISTS lines)
  string(REGEX REPLACE ";.*$" "" line "${line}")
  string(STRIP "${line}" line)
  if(line STREQUAL "")
    continue()
  endif()
  if(line MATCHES "^LIBRARY[ \t]+([^ \t]+)")
    set(library "${CMAKE_MATCH_1}")
  elseif(line STREQUAL "EXPORTS")
    set(in_exports TRUE)
  elseif(in_exports)
    string(REGEX REPLACE "[ \t].*$" "" name "${line}")
    list(APPEND names "${name}")
  endif()
endforeach()
if(names STREQUAL "")
  message(FATAL_ERROR "${DEF}: no exports")
endif()

# The C name of an export: "_Name@N" is Name with stdcall decoration.
function(c_name_of export out)
  if(export MATCHES "^_([A-Za-z0-9_]+)@[0-9]+$")
    set(${out} "${CMAKE_MATCH_1}" PARENT_SCOPE)
  else()
    set(${out} "${export}" PARENT_SCOPE)
  endif()
endfunction()

if(MODE STREQUAL "gnu")
  execute_process(COMMAND "${NM}" -g --defined-only --format=posix "${ARCHIVE}"
                  OUTPUT_VARIABLE nm_out RESULT_VARIABLE nm_result ERROR_VARIABLE nm_err)
  if(NOT nm_result EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${ARCHIVE}: ${nm_err}")
  endif()
  string(REPLACE "\n" ";" nm_lines "${nm_out}")
  set(symbols "")
  foreach(l IN LISTS nm_lines)
    if(l MATCHES "^([^ ]+) T ")
      set(s "${CMAKE_MATCH_1}")
      # 32-bit PE symbols carry a leading underscore that def files leave out.
      if(POINTER_SIZE EQUAL 4)
        string(REGEX REPLACE "^_" "" s "${s}")
      endif()
      list(APPEND symbols "${s}")
    endif()
  endforeach()
endif()

set(link_def "LIBRARY ${library}\nEXPORTS\n")
set(import_def "LIBRARY ${library}\nEXPORTS\n")
set(missing "")
foreach(export IN LISTS names)
  c_name_of("${export}" c)
  if(MODE STREQUAL "gnu")
    set(internal "")
    foreach(s IN LISTS symbols)
      if(s STREQUAL c OR s MATCHES "^${c}@[0-9]+$")
        set(internal "${s}")
        break()
      endif()
    endforeach()
    if(internal STREQUAL "")
      list(APPEND missing "${export}")
      continue()
    endif()
  else()
    # MSVC ties undecorated names to decorated symbols itself; only a decorated export
    # name on 64-bit (no decoration there) needs its plain symbol.
    if(POINTER_SIZE EQUAL 4)
      set(internal "${export}")
    else()
      set(internal "${c}")
    endif()
  endif()
  if(internal STREQUAL export)
    string(APPEND link_def "    ${export}\n")
    string(APPEND import_def "    ${export}\n")
  else()
    string(APPEND link_def "    ${export} = ${internal}\n")
    string(APPEND import_def "    ${internal} == ${export}\n")
  endif()
endforeach()
if(missing)
  string(REPLACE ";" ", " missing "${missing}")
  message(FATAL_ERROR "api/zr.def names functions the library does not define: ${missing}")
endif()

# Rewritten only on change, so that an unchanged export list does not relink.
foreach(pair "OUT_LINK;link_def" "OUT_IMPORT;import_def")
  list(GET pair 0 var)
  list(GET pair 1 content)
  if(${var})
    set(old "")
    if(EXISTS "${${var}}")
      file(READ "${${var}}" old)
    endif()
    if(NOT old STREQUAL "${${content}}")
      file(WRITE "${${var}}" "${${content}}")
    endif()
  endif()
endforeach()
