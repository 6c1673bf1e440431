# The manual page, the licence terms and the changelog, as Debian's policy wants them in a
# package: compressed with no timestamp inside, so that two builds give the same bytes.
find_program(SCDOC scdoc REQUIRED)
find_program(GZIP gzip REQUIRED)
set(documents ${PROJECT_BINARY_DIR}/documents)

# Every text carries the version --version prints, filled in here; the changelog its day as
# Debian writes dates.
execute_process(COMMAND date -u -R -d "${TRELK_RELEASE_DAY} 12:00" OUTPUT_VARIABLE TRELK_RELEASE_DATE
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
configure_file(${PROJECT_SOURCE_DIR}/data/man/vorlane-trelk.1.scd.in ${documents}/vorlane-trelk.1.scd @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/data/debian/changelog.in ${documents}/changelog @ONLY)

add_custom_command(OUTPUT ${documents}/vorlane-trelk.1
  COMMAND ${SCDOC} < ${documents}/vorlane-trelk.1.scd > ${documents}/vorlane-trelk.1
  DEPENDS ${documents}/vorlane-trelk.1.scd
  VERBATIM)
foreach(document vorlane-trelk.1 changelog)
  add_custom_command(OUTPUT ${documents}/${document}.gz
    COMMAND ${GZIP} -9nf --keep ${documents}/${document}
    DEPENDS ${documents}/${document}
    VERBATIM)
endforeach()
add_custom_target(documents ALL DEPENDS ${documents}/vorlane-trelk.1.gz ${documents}/changelog.gz)

install(FILES ${documents}/vorlane-trelk.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# A package whose version has no Debian revision is native: its changelog is changelog.gz.
install(FILES ${documents}/changelog.gz ${PROJECT_SOURCE_DIR}/data/debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
