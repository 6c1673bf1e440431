# The Debian package, built in the build folder with `cpack -G DEB`. Its dependencies are what
# dpkg-shlibdeps finds for the program's shared libraries, and the FFmpeg programs it runs.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vorlane-trelk)
set(CPACK_PACKAGE_VENDOR vorlane)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop companion of VorlaneWeb for LED walls")
set(CPACK_PACKAGE_DESCRIPTION [[
vorlane Trelk serves a local media library to the VorlaneWeb pages the user
has paired with it, over HTTP on loopback only. It takes in masters uploaded
by a page or dropped in the library, and makes wall-ready renditions of them
in the background: H.264 files up to 3840 pixels wide, or a wide file with
full-height strips, VP9 with alpha, and PNG stills.]])
# Installed with DESTDIR below /usr as it will stand, so that the install can link to the
# FFmpeg programs relatively, as links inside /usr should be.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "vorlane Trelk developers <trelk@vorlane.app>")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS ffmpeg)
# The tray and the dialogs speak Wayland natively with it, X11 (or XWayland) without.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-wayland)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
