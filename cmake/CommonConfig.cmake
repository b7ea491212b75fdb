# One interface target carries the language level, warnings and Qt's safety
# defines; every target of the project links it.
add_library(zp_common INTERFACE)
target_compile_features(zp_common INTERFACE cxx_std_20)
target_compile_options(zp_common INTERFACE -Wall -Wextra -Wpedantic -Werror)
target_compile_definitions(zp_common INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_CAST_TO_ASCII
    QT_NO_CONTEXTLESS_CONNECT
    QT_NO_KEYWORDS
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT)

if(ZP_SANITIZE)
    target_compile_options(zp_common INTERFACE
        -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(zp_common INTERFACE -fsanitize=address,undefined)
endif()

# Coverage for libFuzzer in every library; the fuzz targets link its main.
if(ZP_BUILD_FUZZ)
    target_compile_options(zp_common INTERFACE
        -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
        -fno-sanitize-recover=undefined)
    target_link_options(zp_common INTERFACE -fsanitize=address,undefined)
endif()

# Debian's hardening, as a Debian package is built: the flags dpkg-buildflags
# gives with every hardening feature on (fortified functions, the stack
# protector, PIE, relocations made read-only and bound at start), and the
# stack clash protection that later dpkg versions add.
if(ZP_DEBIAN_HARDENING)
    find_program(DPKG_BUILDFLAGS dpkg-buildflags REQUIRED)
    foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
        execute_process(
            COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                    ${DPKG_BUILDFLAGS} --get ${kind}
            WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
            OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
        separate_arguments(hardening_${kind} UNIX_COMMAND "${flags}")
    endforeach()
    target_compile_options(zp_common INTERFACE ${hardening_CPPFLAGS} ${hardening_CXXFLAGS}
        -fstack-clash-protection)
    target_link_options(zp_common INTERFACE ${hardening_LDFLAGS})
endif()
