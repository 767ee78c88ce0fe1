# Install layout.
#   cmake --install build --prefix DIR                      everything
#   cmake --install build --prefix DIR --component viewer   the viewer only
#   cmake --install build --prefix DIR --component devsim   the test device only
# The Debian packages come from debian/ (dpkg-buildpackage, scripts/package.sh);
# CPack stays for quick local packages: (cd build && cpack -G DEB).
include(GNUInstallDirs)

# Installing and packaging need only the two programs, not the tests and
# benchmarks that "all" holds (the package script builds the two first).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(KVM_APP_ID io.github.h264video.H264Video)
set(KVM_PKG_DIR ${CMAKE_SOURCE_DIR}/packaging)

install(TARGETS H264Video RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT viewer)
install(FILES ${KVM_PKG_DIR}/${KVM_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
        COMPONENT viewer)
install(FILES ${KVM_PKG_DIR}/${KVM_APP_ID}.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        COMPONENT viewer)
install(FILES ${KVM_PKG_DIR}/${KVM_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
        COMPONENT viewer)
install(FILES ${KVM_PKG_DIR}/H264Video.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT viewer)
install(FILES ${KVM_QM_FILES} DESTINATION ${CMAKE_INSTALL_DATADIR}/h264video/translations COMPONENT viewer)
# The scripting client sits beside the viewer.
install(TARGETS h264video-ctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT viewer)
install(FILES ${KVM_PKG_DIR}/h264video-ctl.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT viewer)

install(TARGETS devsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT devsim)
install(FILES ${KVM_PKG_DIR}/devsim.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT devsim)

set(CPACK_PACKAGE_NAME h264video)
set(CPACK_PACKAGE_VENDOR "H264Video developers")
set(CPACK_PACKAGE_CONTACT "H264Video developers <h264video@users.noreply.github.com>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Viewer for a KVM-over-IP device")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_COMPONENTS_ALL viewer devsim)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_VIEWER_PACKAGE_NAME h264video)
# Loaded at run time, so dpkg-shlibdeps cannot see it: Qt's Wayland platform
# plug-in (the X11 one comes with libqt6gui6).
set(CPACK_DEBIAN_VIEWER_PACKAGE_DEPENDS "qt6-wayland")
set(CPACK_DEBIAN_VIEWER_DESCRIPTION "Viewer for a KVM-over-IP device
 Shows the screen of the computer behind a KVM-over-IP device (H.264),
 sends keyboard and mouse input and maps local drives or images as a USB disk.")
set(CPACK_DEBIAN_DEVSIM_PACKAGE_NAME h264video-devsim)
set(CPACK_DEBIAN_DEVSIM_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_DEVSIM_DESCRIPTION "simulated KVM-over-IP device for testing H264Video
 Plays the device the H264Video viewer talks to, on 127.0.0.1 only, for tests
 and demonstrations.")
# Executables are stripped into the package; the build keeps its symbols.
set(CPACK_STRIP_FILES ON)
include(CPack)
