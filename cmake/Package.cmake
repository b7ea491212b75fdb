# The Debian package: cmake --build <build> --target package (or
# scripts/package) makes zavrinello-parser_<version>_amd64.deb with the program
# in /usr/bin, the desktop file, the icons, the man page, the copyright file
# and the changelog. The program's own install rules are in src/app.
include(GNUInstallDirs)

set(ZP_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/${PROJECT_NAME})
set(ZP_PACKAGE_FILES ${PROJECT_BINARY_DIR}/package-files)

# The man page is the program's own --help, run under its installed name so
# that the usage line does not carry the build folder. Its NAME line comes from
# a file: help2man takes a non-ASCII --name for Latin-1.
find_program(HELP2MAN help2man)
if(HELP2MAN)
    set(manpage ${ZP_PACKAGE_FILES}/zavrinello-parser.1)
    add_custom_command(OUTPUT ${manpage}.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${ZP_PACKAGE_FILES}
        COMMAND ${CMAKE_COMMAND} -E env PATH=$<TARGET_FILE_DIR:zavrinello-parser>:$ENV{PATH}
                LC_ALL=C.UTF-8 ${HELP2MAN} --locale=C.UTF-8 --no-info --no-discard-stderr --section=1
                --include=${PROJECT_SOURCE_DIR}/resources/debian/zavrinello-parser.h2m
                --output=${manpage} zavrinello-parser
        COMMAND gzip -9nf ${manpage}
        DEPENDS zavrinello-parser ${PROJECT_SOURCE_DIR}/resources/debian/zavrinello-parser.h2m
        VERBATIM)
    add_custom_target(manpage ALL DEPENDS ${manpage}.gz)
    install(FILES ${manpage}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
    message(WARNING "help2man not found (scripts/install-deps installs it): no man page")
endif()

# Debian wants the changelog compressed, also in a native package.
add_custom_command(OUTPUT ${ZP_PACKAGE_FILES}/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${ZP_PACKAGE_FILES}
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/resources/debian/changelog
            ${ZP_PACKAGE_FILES}/changelog
    COMMAND gzip -9nf ${ZP_PACKAGE_FILES}/changelog
    DEPENDS ${PROJECT_SOURCE_DIR}/resources/debian/changelog
    VERBATIM)
add_custom_target(package-changelog ALL DEPENDS ${ZP_PACKAGE_FILES}/changelog.gz)
install(FILES ${ZP_PACKAGE_FILES}/changelog.gz ${PROJECT_SOURCE_DIR}/resources/debian/copyright
        DESTINATION ${ZP_DOC_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "zavrinello-parser developers <zavrinello-parser@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "copies the Zavrinello catalogue of the Tolmari shop into a workbook")
# The extended description; CPack puts the summary above it.
set(CPACK_PACKAGE_DESCRIPTION
    "Walks the Zavrinello catalogue of the Tolmari web shop and appends one row
per new product to the Excel workbook Zavrinello.xlsx, with the pictures in
Images/ beside it. One window with a Start button, or --headless for a run
without a display. The interface is in Russian.")
# Libraries from dpkg-shlibdeps; Qt's own Russian texts from the translations.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
