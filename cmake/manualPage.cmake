# Manual pages and other files installed compressed, as Debian ships them: gzip -9 without a name
# or time stamp in the header, so that the same input gives the same bytes.

find_program(FLUXTRIM_GO_MD2MAN go-md2man)

# A rule that writes OUTPUT, INPUT compressed, for a target that depends on OUTPUT. Not
# VERBATIM: the shell does the redirection.
function(fluxtrim_gzip_file input output)
  add_custom_command(
    OUTPUT ${output}
    COMMAND gzip -9 -n -c ${input} > ${output}
    DEPENDS ${input}
    COMMENT "Compressing ${output}")
endfunction()

# A manual page written in Markdown: @PROJECT_VERSION@ and the like filled in, converted to roff
# by go-md2man, compressed into <binary dir>/PAGE.SECTION.gz and installed in COMPONENT. TARGET
# builds it with the default target. Needs go-md2man (FLUXTRIM_GO_MD2MAN).
function(fluxtrim_add_manual_page target source page section component)
  set(base ${CMAKE_CURRENT_BINARY_DIR}/${page}.${section})
  configure_file(${source} ${base}.md @ONLY)
  add_custom_command(
    OUTPUT ${base}
    COMMAND ${FLUXTRIM_GO_MD2MAN} -in ${base}.md -out ${base}
    DEPENDS ${base}.md
    COMMENT "Converting the manual page ${page}(${section})"
    VERBATIM)
  fluxtrim_gzip_file(${base} ${base}.gz)
  add_custom_target(${target} ALL DEPENDS ${base}.gz)
  install(FILES ${base}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${component})
endfunction()
