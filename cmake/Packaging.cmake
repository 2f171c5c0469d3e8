# `cpack -G DEB` in the build folder makes a Debian package of what `cmake --install` installs:
# the program under /usr/bin, its menu entry and its icon. Library dependencies are worked out
# by dpkg-shlibdeps from the executable.
set(CPACK_PACKAGE_NAME vorsa)
set(CPACK_PACKAGE_VENDOR "VORSASOFT")
set(CPACK_PACKAGE_CONTACT "VORSASOFT <support@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Finds free HTTP proxies, tests them and switches the system proxy")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The Chinese texts need a CJK font to show as more than boxes.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk | fonts-wqy-microhei")
include(CPack)
