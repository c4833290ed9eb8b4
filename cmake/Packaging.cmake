# The Debian package, built by CPack from the install rules (scripts/package.sh runs it).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kintosniffer)
# Debian versions compare digit runs as numbers, so "1.00.0001" serves as it is.
set(CPACK_PACKAGE_VERSION ${KINTO_VERSION_TEXT})
set(CPACK_PACKAGE_CONTACT "Kinto Sniffer maintainers <kintosniffer@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Kinto UDP Sniffer Tool")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Kinto Sniffer watches one UDP port on one network adapter and lists every captured\n\
packet with its capture time, size, message type and decoded message text, and saves\n\
the list as a CSV capture log.\n\
.\n\
Anyone may start the program, which holds no privilege. It captures through a small\n\
helper that only root and the members of the group kintosniffer may run; the helper\n\
holds the capability cap_net_raw and gives it up once its capture is open.")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)

# Libraries from the binary; setcap and groupadd/groupdel for the maintainer scripts.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcap2-bin, passwd")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_LIST_DIR}/debian/postinst ${CMAKE_CURRENT_LIST_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
