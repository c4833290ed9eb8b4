# Desktop integration: the icon resources the windows link, the files a desktop installation
# needs (menu entry, themed icons, AppStream metainfo, manual page) and the Debian package.
include(GNUInstallDirs)

add_subdirectory(${PROJECT_SOURCE_DIR}/data ${PROJECT_BINARY_DIR}/data)

if(KINTO_BUILD_TESTS)
    add_subdirectory(${PROJECT_SOURCE_DIR}/tests/package ${PROJECT_BINARY_DIR}/tests/package)
endif()
