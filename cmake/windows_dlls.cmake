# Quorvex.dll for 32- and 64-bit Windows, cross-built with mingw-w64 beside
# the Linux build, each width in a build of its own (windows-i686/,
# windows-x86_64/), and the zips that a Windows host developer downloads:
# the DLL with its import library, .def and headers, the simulator and the
# command-line host built for the same width, a settings file for the
# demo, a README and an example host.
#   cmake --build build --target windows_zips   (or scripts/windows-zips.sh)
# They are built with the test suite, unless QUORVEX_WINE_TESTS=OFF (the
# sanitizer builds) leaves them and their Wine tests out; builds without
# tests (the demo) leave them out too.
option(QUORVEX_WINE_TESTS "Test the Windows DLLs under Wine" ON)
if(QUORVEX_BUILD_TESTS AND QUORVEX_WINE_TESTS)
  set(windows_dlls_default ON)
else()
  set(windows_dlls_default OFF)
endif()
option(QUORVEX_WINDOWS_DLLS "Cross-build Quorvex.dll for 32- and 64-bit Windows and pack the zips"
  ${windows_dlls_default})
include(ExternalProject)

# The DLLs' SQLite: the amalgamation made from Debian's source package, the
# SQLite of the Linux library (scripts/fetch-sqlite.sh, which setup.sh
# runs; run here once where it has not).
set(QUORVEX_SQLITE_SOURCE_DIR ${PROJECT_SOURCE_DIR}/.cache/sqlite/amalgamation CACHE PATH
  "The folder of SQLite's amalgamation, sqlite3.c and sqlite3.h")
if(QUORVEX_WINDOWS_DLLS AND NOT EXISTS ${QUORVEX_SQLITE_SOURCE_DIR}/sqlite3.c)
  message(STATUS "Making SQLite's amalgamation from Debian's source package")
  execute_process(COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/fetch-sqlite.sh
    RESULT_VARIABLE fetched OUTPUT_QUIET)
  if(NOT fetched EQUAL 0)
    message(FATAL_ERROR "SQLite's amalgamation could not be made (bash scripts/fetch-sqlite.sh says why); "
      "-DQUORVEX_WINDOWS_DLLS=OFF builds without the Windows DLLs")
  endif()
endif()

# Each width (its mingw-w64 triplet's processor): the name its zip and its
# tests carry, and the object format of its DLL.
set(QUORVEX_WINDOWS_WIDTHS)
set(QUORVEX_WINDOWS_NAME_i686 win32)
set(QUORVEX_WINDOWS_NAME_x86_64 win64)
set(QUORVEX_WINDOWS_FORMAT_i686 pei-i386)
set(QUORVEX_WINDOWS_FORMAT_x86_64 pei-x86-64)
set(QUORVEX_WINDOWS_ZIPS)
set(QUORVEX_WINDOWS_MISSING_WIDTHS)  # wanted, but without their compiler

foreach(width i686 x86_64)
  find_program(QUORVEX_MINGW_CXX_${width} ${width}-w64-mingw32-g++-posix)
  if(NOT QUORVEX_WINDOWS_DLLS)
    continue()
  elseif(NOT QUORVEX_MINGW_CXX_${width})
    list(APPEND QUORVEX_WINDOWS_MISSING_WIDTHS ${width})
    continue()
  endif()
  list(APPEND QUORVEX_WINDOWS_WIDTHS ${width})
  set(dir ${CMAKE_BINARY_DIR}/windows-${width})
  set(QUORVEX_WINDOWS_DIR_${width} ${dir})
  # The DLL, its test hosts, and the simulator and the command-line host
  # for the zip; a compiler launcher (ccache) of this build serves it too.
  set(launchers)
  foreach(language C CXX)
    if(CMAKE_${language}_COMPILER_LAUNCHER)
      list(APPEND launchers -DCMAKE_${language}_COMPILER_LAUNCHER=${CMAKE_${language}_COMPILER_LAUNCHER})
    endif()
  endforeach()
  set(tools ${dir}/bin/quorvex-sim.exe ${dir}/bin/quorvex.exe)
  ExternalProject_Add(quorvex_windows_${width}
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${dir}
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-${width}.cmake -DCMAKE_BUILD_TYPE=Release
      -DQUORVEX_WERROR=${QUORVEX_WERROR} -DQUORVEX_BUILD_TOOLS=ON ${launchers}
      -DQUORVEX_SQLITE_SOURCE_DIR=${QUORVEX_SQLITE_SOURCE_DIR}
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS ${dir}/src/Quorvex.dll ${dir}/src/libQuorvex.dll.a ${tools}
    INSTALL_COMMAND "")
  # The width's export list, generated and committed beside the sources;
  # the zip carries it as quorvex.def.
  if(width STREQUAL i686)
    set(def ${PROJECT_SOURCE_DIR}/src/quorvex-win32.def)
  else()
    set(def ${PROJECT_SOURCE_DIR}/src/quorvex-win64.def)
  endif()

  set(zip_name Quorvex-${PROJECT_VERSION}-${QUORVEX_WINDOWS_NAME_${width}})
  set(zip ${CMAKE_BINARY_DIR}/packages/${zip_name}.zip)
  set(zip_sources
    ${dir}/src/Quorvex.dll ${dir}/src/libQuorvex.dll.a ${PROJECT_SOURCE_DIR}/include/quorvex.h ${PROJECT_SOURCE_DIR}/include/quorvex_sessions.h
    ${PROJECT_SOURCE_DIR}/include/quorvex_async.h
    ${PROJECT_SOURCE_DIR}/include/quorvex.hpp ${PROJECT_SOURCE_DIR}/include/quorvex_twins.hpp ${PROJECT_SOURCE_DIR}/include/quorvex_job.hpp
    ${PROJECT_SOURCE_DIR}/include/quorvex_ops.hpp
    ${PROJECT_SOURCE_DIR}/packaging/windows/README.txt ${PROJECT_SOURCE_DIR}/packaging/windows/example_host.c
    ${tools} ${PROJECT_SOURCE_DIR}/tools/cli/Quorvex.ini)
  set(licence ${PROJECT_SOURCE_DIR}/LICENSE)  # the Apache License 2.0
  set(stage ${CMAKE_BINARY_DIR}/packages/${zip_name})
  add_custom_command(OUTPUT ${zip}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage} ${zip}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}
    COMMAND ${CMAKE_COMMAND} -E copy ${zip_sources} ${stage}
    COMMAND ${CMAKE_COMMAND} -E copy ${def} ${stage}/quorvex.def
    COMMAND ${CMAKE_COMMAND} -E copy ${licence} ${stage}/LICENSE.txt
    COMMAND ${CMAKE_COMMAND} -E tar cf ${zip} --format=zip ${zip_name}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/packages
    DEPENDS quorvex_windows_${width} ${zip_sources} ${def} ${licence}
    COMMENT "Packing ${zip_name}.zip"
    VERBATIM)
  set(QUORVEX_WINDOWS_ZIP_${width} ${zip})
  list(APPEND QUORVEX_WINDOWS_ZIPS ${zip})
endforeach()

if(QUORVEX_WINDOWS_ZIPS)
  add_custom_target(windows_zips ALL DEPENDS ${QUORVEX_WINDOWS_ZIPS})
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
endif()
if(QUORVEX_WINDOWS_MISSING_WIDTHS)
  # The test suite fails for them (missing.mingw) unless allowed.
  message(STATUS "mingw-w64 missing for ${QUORVEX_WINDOWS_MISSING_WIDTHS}: those DLLs are not built")
endif()
