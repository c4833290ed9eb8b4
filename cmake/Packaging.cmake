# The Debian package, built by CPack from the install rules (scripts/package.sh runs it).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kintosniffer)
# Debian versions compare digit runs as numbers, so "1.00.0001" serves as it is.
set(CPACK_PACKAGE_VERSION ${KINTO_VERSION_TEXT})
set(CPACK_PACKAGE_CONTACT "Kinto Sniffer maintainers <kintosniffer@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Kinto UDP Sniffer Tool")
# Debian's limit is 80 columns a line, the leading space of the control file included.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Kinto Sniffer watches one UDP port on one network adapter and lists every\n\
captured packet with its capture time, size, message type and decoded\n\
message text, and saves the list as a CSV capture log.\n\
.\n\
Anyone may start the program, which holds no privilege. It captures\n\
through a small helper that only root and the members of the group\n\
kintosniffer may run; the helper holds the capability cap_net_raw, raises\n\
it only to open its capture and then gives it up for good.")
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

# What Debian wants of every package in /usr/share/doc/<package>: the copyright and licence
# (debian/copyright, machine-readable) and a changelog, made from the version and release date.
execute_process(COMMAND date -u -R -d "${KINTO_RELEASE_DATE} 12:00"
    OUTPUT_VARIABLE KINTO_CHANGELOG_DATE OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${PROJECT_BINARY_DIR}/debian/changelog
    @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/debian/changelog.gz
    COMMAND gzip -9 -n -c ${PROJECT_BINARY_DIR}/debian/changelog >
        ${PROJECT_BINARY_DIR}/debian/changelog.gz
    DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog
    VERBATIM)
add_custom_target(kinto_debian_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog.gz)
install(FILES ${PROJECT_BINARY_DIR}/debian/changelog.gz ${CMAKE_CURRENT_LIST_DIR}/debian/copyright
    DESTINATION ${CMAKE_INSTALL_DOCDIR})

# A finding of lintian's that is none here, with its reason in the file.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/lintian-overrides
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME kintosniffer)

include(CPack)
