# Debian's hardening flags for Release builds and the package: stack protector, _FORTIFY_SOURCE,
# full RELRO with BIND_NOW, and CET where the compiler has it. The capture helper holds a
# privilege for a moment and reads what libpcap hands it; the window reads what strangers send.
# Optimisation and debug information stay the build type's: only the hardening is taken over.
find_program(KINTO_DPKG_BUILDFLAGS dpkg-buildflags)
if(NOT KINTO_DPKG_BUILDFLAGS)
    message(WARNING "dpkg-buildflags not found (dpkg-dev): the build is not hardened")
    return()
endif()

set(kinto_hardening_compile "")
set(kinto_hardening_link "")
foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
    execute_process(
        COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
            ${KINTO_DPKG_BUILDFLAGS} --get ${kind}
        OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    separate_arguments(flags UNIX_COMMAND "${flags}")
    list(FILTER flags EXCLUDE REGEX "^(-g|-O.*|-f(file|debug|macro)-prefix-map=.*)$")
    if(kind STREQUAL "LDFLAGS")
        list(APPEND kinto_hardening_link ${flags})
    else()
        list(APPEND kinto_hardening_compile ${flags})
    endif()
endforeach()

include(CheckCXXCompilerFlag)
check_cxx_compiler_flag(-fcf-protection KINTO_HAS_CF_PROTECTION)
if(KINTO_HAS_CF_PROTECTION)
    list(APPEND kinto_hardening_compile -fcf-protection)
endif()

message(STATUS "Hardening: ${kinto_hardening_compile} ${kinto_hardening_link}")
add_compile_options(${kinto_hardening_compile})
add_link_options(${kinto_hardening_link})
