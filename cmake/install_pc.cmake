# Run by cmake --install: writes quorvex.pc with the prefix the install is
# made to (--prefix included), so that pkg-config prints plain paths.
#   QUORVEX_PC_TEMPLATE  the configured template, its prefix left open
#   QUORVEX_PC_FILE      the file that is then installed
cmake_path(NORMAL_PATH CMAKE_INSTALL_PREFIX OUTPUT_VARIABLE QUORVEX_PC_PREFIX)
string(REGEX REPLACE "(.)/$" "\\1" QUORVEX_PC_PREFIX "${QUORVEX_PC_PREFIX}")
configure_file("${QUORVEX_PC_TEMPLATE}" "${QUORVEX_PC_FILE}" @ONLY)
