# Debian packages, one per install component, made by CPack from a build
# for /usr without run paths; scripts/debs.sh configures one, runs CPack and
# finishes the packages (ldconfig trigger, symbols file):
#   libquorvex0      the shared object (runtime)
#   libquorvex-gtk   the About dialog and message box module (dialogs) in
#                    the library's private directory /usr/lib/<triplet>/
#                    quorvex, where no other program's loader looks; a
#                    package of its own so that GTK 3 stays optional:
#                    libquorvex0 recommends it; without it ShowAbout and
#                    ShowMsg return 0
#   libquorvex-dev   header, unversioned link, quorvex.pc, CMake package,
#                    the README and its C and C++ hosts as examples (dev)
#   quorvex-tools    quorvex-sim, quorvex, an example Quorvex.ini and the
#                    two programs' READMEs (tools)
set(QUORVEX_DEB_MAINTAINER "Quorvex developers <quorvex@users.noreply.example>"
  CACHE STRING "Maintainer field of the Debian packages")
set(deb_revision 1)
set(deb_version ${PROJECT_VERSION}-${deb_revision})

set(deb_components runtime dev)
set(deb_package_runtime libquorvex${PROJECT_VERSION_MAJOR})
set(deb_package_dialogs libquorvex-gtk)  # named after its file, which carries no version
set(deb_package_dev libquorvex-dev)
set(deb_package_tools quorvex-tools)
if(TARGET quorvex-gtk)
  list(APPEND deb_components dialogs)
endif()
if(TARGET quorvex-cli)
  list(APPEND deb_components tools)
endif()

# Every package carries its copyright file and a compressed changelog in
# /usr/share/doc/<package>; only component installs (CPack) put them there.
set(deb_doc ${PROJECT_BINARY_DIR}/deb-doc)
string(TIMESTAMP deb_date "%a, %d %b %Y %H:%M:%S +0000" UTC)  # SOURCE_DATE_EPOCH, when set
file(WRITE ${deb_doc}/changelog.Debian "quorvex (${deb_version}) unstable; urgency=medium\n\n"
  "  * Release ${PROJECT_VERSION}.\n\n -- ${QUORVEX_DEB_MAINTAINER}  ${deb_date}\n")
find_program(QUORVEX_GZIP gzip)
if(QUORVEX_GZIP)
  execute_process(COMMAND ${QUORVEX_GZIP} -9nc INPUT_FILE ${deb_doc}/changelog.Debian
    OUTPUT_FILE ${deb_doc}/changelog.Debian.gz)
endif()
foreach(component IN LISTS deb_components)
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/deb/copyright ${deb_doc}/changelog.Debian.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${deb_package_${component}}
    COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()

# The documentation beside them, compressed as Debian compresses a document
# over 4 KB: the README and its example hosts with the -dev package (a host
# developer installs that one), the simulator's and the command-line host's
# READMEs with the tools.
function(quorvex_deb_document source name component)
  set(compressed ${deb_doc}/${deb_package_${component}}/${name}.gz)
  if(QUORVEX_GZIP)
    get_filename_component(folder ${compressed} DIRECTORY)
    file(MAKE_DIRECTORY ${folder})
    execute_process(COMMAND ${QUORVEX_GZIP} -9nc INPUT_FILE ${source} OUTPUT_FILE ${compressed})
    install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${deb_package_${component}}
      COMPONENT ${component} EXCLUDE_FROM_ALL)
  else()
    install(FILES ${source} RENAME ${name}
      DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${deb_package_${component}}
      COMPONENT ${component} EXCLUDE_FROM_ALL)
  endif()
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
endfunction()

# The README's hosts, each the first block of its language after its
# section's heading, cut out here so that the examples and the README never
# differ: examples/host.c and examples/host.cpp.
file(READ ${PROJECT_SOURCE_DIR}/README.md readme)
function(quorvex_readme_example heading fence file)
  string(FIND "${readme}" "\n${heading}\n" at)
  if(at GREATER -1)
    string(SUBSTRING "${readme}" ${at} -1 rest)
    string(FIND "${rest}" "\n```${fence}\n" at)
  endif()
  if(at GREATER -1)
    string(LENGTH "\n```${fence}\n" fence_length)
    math(EXPR at "${at} + ${fence_length}")
    string(SUBSTRING "${rest}" ${at} -1 rest)
    string(FIND "${rest}" "\n```\n" at)
  endif()
  if(at LESS 0)
    message(FATAL_ERROR "README.md: no ${fence} example after \"${heading}\" for the -dev package")
  endif()
  math(EXPR at "${at} + 1")
  string(SUBSTRING "${rest}" 0 ${at} example)
  file(WRITE ${deb_doc}/examples/${file} "${example}")
  install(FILES ${deb_doc}/examples/${file}
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${deb_package_dev}/examples COMPONENT dev EXCLUDE_FROM_ALL)
endfunction()
quorvex_readme_example("## The API in brief" c host.c)
quorvex_readme_example("## C++" cpp host.cpp)
quorvex_deb_document(${PROJECT_SOURCE_DIR}/README.md README.md dev)
if(tools IN_LIST deb_components)
  quorvex_deb_document(${PROJECT_SOURCE_DIR}/tools/sim/README.md README.quorvex-sim.md tools)
  quorvex_deb_document(${PROJECT_SOURCE_DIR}/tools/cli/README.md README.quorvex.md tools)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvex)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${QUORVEX_DEB_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_COMPONENTS_ALL ${deb_components})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${deb_revision})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies on other packages from dpkg-shlibdeps; the library built here
# is found in the build tree, and the packages made here depend on each
# other by exact version.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/src)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(deb_exact "${deb_package_runtime} (= ${deb_version})")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${deb_package_runtime})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
if(TARGET quorvex-gtk)
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_RECOMMENDS ${deb_package_dialogs})
endif()
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "client library of the Quorvex message platform
Quorvex lets a desktop host talk to a text- and multimedia-message sending
platform: it keeps one TCP connection to the platform's server, logs the
account in, and turns each call of its C interface into one request and
response exchange, reconnecting and logging in again when the connection
breaks.
This package holds the shared library. The About dialog and the message box
come from ${deb_package_dialogs}.")

set(CPACK_DEBIAN_DIALOGS_PACKAGE_NAME ${deb_package_dialogs})
set(CPACK_DEBIAN_DIALOGS_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_DIALOGS_PACKAGE_DEPENDS "${deb_exact}")
set(CPACK_DEBIAN_DIALOGS_DESCRIPTION "GTK 3 dialogs of the Quorvex client library
The About dialog and the message box that ${deb_package_runtime} loads when a
host first calls ShowAbout or ShowMsg. Without this package those two calls
return 0 and the rest of the library works unchanged, with no window system
installed.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME ${deb_package_dev})
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${deb_exact}")
set(CPACK_DEBIAN_DEV_DESCRIPTION "development files of the Quorvex client library
The C header quorvex.h, the header-only C++ interface quorvex.hpp, the link
libquorvex.so, quorvex.pc for pkg-config and a CMake package:
find_package(Quorvex) gives the target Quorvex::quorvex.
The README and small hosts in C and C++ lie in /usr/share/doc/${deb_package_dev}.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME ${deb_package_tools})
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "${deb_exact}")
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "simulator and command-line host of the Quorvex client library
quorvex-sim is a stand-in for the platform's server. quorvex calls any export
of the library from the command line, and its demo command tours the library
against an embedded simulator. An example settings file lies in
/usr/share/quorvex, and both programs' READMEs in
/usr/share/doc/${deb_package_tools}.")

include(CPack)
