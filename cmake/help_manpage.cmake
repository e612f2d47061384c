# Manual pages made from the programs' own --help text, so that the two
# never differ.  Included, it defines quorvex_help_manpage(); run with -P, it
# writes one page: -DPROGRAM=<binary> -DNAME=<name> -DSUMMARY=<text>
# -DVERSION=<version> -DOUT=<file.1>, and compresses it when gzip is there.
if(CMAKE_SCRIPT_MODE_FILE)
  execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} --help failed")
  endif()
  # roff: a backslash is \e, a minus sign \-, and no line begins with a control character.
  string(REPLACE "\\" "\\e" help "${help}")
  string(REPLACE "-" "\\-" help "${help}")  # options stay ASCII minus signs
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
  string(REPLACE "-" "\\-" summary "${SUMMARY}")
  string(TOUPPER "${NAME}" title)
  file(WRITE ${OUT} ".TH ${title} 1 \"\" \"${NAME} ${VERSION}\" \"Quorvex\"\n"
    ".SH NAME\n${NAME} \\- ${summary}\n.SH DESCRIPTION\n.nf\n${help}.fi\n")
  find_program(gzip gzip)
  file(REMOVE ${OUT}.gz)
  if(gzip)
    execute_process(COMMAND ${gzip} -9n ${OUT})
  endif()
  return()
endif()

# quorvex_help_manpage(<target> <summary>): <output name>.1 (or .1.gz) in
# the build tree, made after the target and installed with the tools; none
# in a cross build.
function(quorvex_help_manpage target summary)
  if(CMAKE_CROSSCOMPILING)
    return()  # the program cannot run here to print its help
  endif()
  get_target_property(name ${target} OUTPUT_NAME)
  if(NOT name)
    set(name ${target})
  endif()
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${name}.1)
  add_custom_command(OUTPUT ${out}.stamp
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${target}> -DNAME=${name} -DSUMMARY=${summary}
            -DVERSION=${PROJECT_VERSION} -DOUT=${out} -P ${CMAKE_CURRENT_FUNCTION_LIST_FILE}
    COMMAND ${CMAKE_COMMAND} -E touch ${out}.stamp
    DEPENDS ${target} ${CMAKE_CURRENT_FUNCTION_LIST_FILE} VERBATIM)
  add_custom_target(${target}-manpage ALL DEPENDS ${out}.stamp)
  install(FILES ${out}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools OPTIONAL)
  install(FILES ${out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools OPTIONAL)
endfunction()
