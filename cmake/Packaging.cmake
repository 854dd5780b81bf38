# `cmake --install` and the Debian package: the program folder under lib/clipferry, launchers in
# bin, a menu entry and an icon.

include_guard(GLOBAL)

# The program finds its folder from its own executable's real path, so links are enough here.
foreach(launcher "clipferry:clipFerry" "clipferry-cli:clipferry-cli")
  string(REPLACE ":" ";" pair "${launcher}")
  list(GET pair 0 link)
  list(GET pair 1 program)
  install(CODE "
    set(bin \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin\")
    file(MAKE_DIRECTORY \"\${bin}\")
    message(STATUS \"Installing: \${bin}/${link}\")
    file(CREATE_LINK \"../${CLIPFERRY_INSTALL_DIR}/${program}\" \"\${bin}/${link}\" SYMBOLIC)")
endforeach()

install(FILES "${CMAKE_SOURCE_DIR}/packaging/clipferry.desktop" DESTINATION share/applications)
install(FILES "${CMAKE_SOURCE_DIR}/packaging/clipferry.svg"
        DESTINATION share/icons/hicolor/scalable/apps)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME clipferry)
set(CPACK_PACKAGE_VENDOR "ClipFerry")
set(CPACK_PACKAGE_CONTACT "ClipFerry developers <clipferry@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop uploader for lecture-video servers")
set(CPACK_PACKAGE_DESCRIPTION
    "Queues lecture videos and recorded lecture projects, converts them locally and uploads them\n\
to a lecture-video server in blocks over HTTP. The queue survives restarts.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
# Debian 12's packages: the libraries the programs link, and the outside programs they run.
# libglx0 and libopengl0 come with Qt's GUI library anyway; they are named because a build
# linked without --as-needed (clang's default) records them in the main window directly.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4), libqt6network6 (>= 6.4), \
libqt6dbus6 (>= 6.4), qt6-qpa-plugins, libpugixml1v5, libsqlite3-0, libssl3, libcpp-httplib0.11, \
libavformat59, libavcodec59, libavutil57, libswscale6, libfreeimage3, libglx0, libopengl0, \
ffmpeg, zip, unzip, yamdi, libc6 (>= 2.36), libstdc++6 (>= 12), libgcc-s1")
# The Traditional Chinese interface needs a font that covers it; the English one does not.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-zenhei")
include(CPack)
