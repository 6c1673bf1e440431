# What a desktop needs to list, show and start the program: its entry, its icon in the hicolor
# theme (drawn once as SVG, rendered here at the sizes panels and menus ask for) and an autostart
# entry that is off until a user links it into ~/.config/autostart.
find_program(RSVG_CONVERT rsvg-convert REQUIRED)

set(trelkIcon ${PROJECT_SOURCE_DIR}/data/vorlane-trelk.svg)
set(trelkIconPNGs)
foreach(size 16 24 32 48 64 128 256)
  set(folder ${PROJECT_BINARY_DIR}/icons/${size}x${size})
  add_custom_command(OUTPUT ${folder}/vorlane-trelk.png
    COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
    COMMAND ${RSVG_CONVERT} --width=${size} --height=${size} --output=${folder}/vorlane-trelk.png ${trelkIcon}
    DEPENDS ${trelkIcon}
    VERBATIM)
  list(APPEND trelkIconPNGs ${folder}/vorlane-trelk.png)
  install(FILES ${folder}/vorlane-trelk.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
add_custom_target(icons ALL DEPENDS ${trelkIconPNGs})
install(FILES ${trelkIcon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

install(FILES ${PROJECT_SOURCE_DIR}/data/vorlane-trelk.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/data/vorlane-trelk-autostart.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/vorlane-trelk/autostart
        RENAME vorlane-trelk.desktop)

# What software centres show of it, with the version --version prints.
configure_file(${PROJECT_SOURCE_DIR}/data/app.vorlane.Trelk.metainfo.xml.in
               ${PROJECT_BINARY_DIR}/app.vorlane.Trelk.metainfo.xml @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/app.vorlane.Trelk.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The systemd user unit that runs `serve`, off until a user enables it. It names the program
# where this install puts it, which a package only knows at install time.
install(CODE "
  set(bindir \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  configure_file(${PROJECT_SOURCE_DIR}/data/systemd/vorlane-trelk.service.in
                 \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/systemd/user/vorlane-trelk.service\" @ONLY)
")
