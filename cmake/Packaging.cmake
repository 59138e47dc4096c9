# `cpack -G DEB` in a build folder makes fernhollow_<version>_<arch>.deb for /usr, its library
# dependencies read off the binary by dpkg-shlibdeps.
set(CPACK_PACKAGE_NAME fernhollow)
set(CPACK_PACKAGE_VENDOR "The Fernhollow developers")
set(CPACK_PACKAGE_CONTACT "The Fernhollow developers <packages@fernhollow.app>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "API-equivalent spend of your AI coding agents, in the tray")
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "Fernhollow shows what the AI coding agents on the machine consume, priced at"
    "the providers' published per-token API prices: today's spend on a tray icon,"
    "and a panel with the week, the month, a 14-day sparkline, spend by model and"
    "by project, live sessions and a monthly budget with alerts. It reads Claude"
    "Code and OpenClaw logs, and OpenAI organization usage with an admin key."
    "`fernhollow report` prints the same figures in a terminal.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://fernhollow.app)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# What the binary loads at run time without linking it: the QML modules of its views.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qml6-module-qtquick, qml6-module-qtquick-controls, qml6-module-qtquick-layouts, \
qml6-module-qtquick-window, qml6-module-qtquick-templates, qml6-module-qtqml-workerscript")
# The tray icon under Wayland; a Secret Service to keep the OpenAI key in.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-wayland)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS gnome-keyring)

include(CPack)
