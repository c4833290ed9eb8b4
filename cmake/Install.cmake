# Desktop integration: the icon resources the windows link, the files a desktop installation
# needs (menu entry, themed icons, AppStream metainfo, manual page) and the Debian package.
include(GNUInstallDirs)

# AppStream wants a reverse-DNS component id and a web address for the screenshot. The project
# has no domain of its own yet: the defaults use the reserved example.org until it has one.
set(KINTO_APP_ID "org.example.kintosniffer" CACHE STRING "Desktop file and AppStream id")
set(KINTO_HOMEPAGE_URL "https://example.org/kintosniffer" CACHE STRING "Project home page")
set(KINTO_SCREENSHOT_URL "${KINTO_HOMEPAGE_URL}/screenshots/main-window.png"
    CACHE STRING "Published copy of docs/screenshots/main-window.png")
set(KINTO_RELEASE_DATE "2026-12-07")
set(KINTO_RELEASE_MONTH "December 2026")

add_subdirectory(${PROJECT_SOURCE_DIR}/data ${PROJECT_BINARY_DIR}/data)

set(kinto_data ${PROJECT_SOURCE_DIR}/data)
set(kinto_generated ${PROJECT_BINARY_DIR}/data)

configure_file(${kinto_data}/kintosniffer.desktop.in ${kinto_generated}/${KINTO_APP_ID}.desktop
    @ONLY)
configure_file(${kinto_data}/kintosniffer.metainfo.xml.in
    ${kinto_generated}/${KINTO_APP_ID}.metainfo.xml @ONLY)
configure_file(${kinto_data}/kintosniffer.1.in ${kinto_generated}/kintosniffer.1 @ONLY)

# Debian ships manual pages compressed, reproducibly (no name or time stamp in the header).
add_custom_command(OUTPUT ${kinto_generated}/kintosniffer.1.gz
    COMMAND gzip -9 -n -c ${kinto_generated}/kintosniffer.1 > ${kinto_generated}/kintosniffer.1.gz
    DEPENDS ${kinto_generated}/kintosniffer.1
    VERBATIM)
add_custom_target(kinto_manpage ALL DEPENDS ${kinto_generated}/kintosniffer.1.gz)

install(FILES ${kinto_generated}/${KINTO_APP_ID}.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${kinto_generated}/${KINTO_APP_ID}.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${kinto_generated}/kintosniffer.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
foreach(size 16 24 32 48)
    install(FILES ${kinto_data}/icons/kintosniffer-${size}.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
        RENAME kintosniffer.png)
endforeach()
install(FILES ${kinto_data}/icons/kintosniffer.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

if(KINTO_BUILD_TESTS)
    add_subdirectory(${PROJECT_SOURCE_DIR}/tests/package ${PROJECT_BINARY_DIR}/tests/package)
endif()

include(${CMAKE_CURRENT_LIST_DIR}/Packaging.cmake)
