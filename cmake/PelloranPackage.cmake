# The files a Debian package must carry, and the CPack settings that build it:
# `cpack -G DEB` in a build folder makes pelloran_<version>_<arch>.deb from the same
# install rules as `cmake --install`. The manual pages, copyright and changelog.gz are
# installed by every installation, so install_manifest.txt lists exactly what the package
# holds; they are made at configure time from LICENSE, CHANGELOG and data/*.1, which
# therefore re-run the configuration when they change.

set(PELLORAN_MAINTAINER "${PELLORAN_CONTACT_NAME} <${PELLORAN_CONTACT_EMAIL}>")
set(PELLORAN_PACKAGE_DIR ${CMAKE_BINARY_DIR}/package)
file(MAKE_DIRECTORY ${PELLORAN_PACKAGE_DIR})

# gzip -n: no name and no time stamp in the header, so equal input gives an equal file.
function(pelloran_gzip in out)
    execute_process(COMMAND gzip -9nc ${in} OUTPUT_FILE ${out} RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "gzip could not compress ${in}")
    endif()
    set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${in})
endfunction()

# Manual pages are installed compressed, as Debian requires; man reads them either way.
foreach(page pelloran pelloran-mask)
    pelloran_gzip(${CMAKE_SOURCE_DIR}/data/${page}.1 ${PELLORAN_PACKAGE_DIR}/${page}.1.gz)
    install(FILES ${PELLORAN_PACKAGE_DIR}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

# "Tue, 01 Dec 2026 00:00:00 +0000" for an ISO date, as a Debian changelog's trailer has it.
function(pelloran_rfc2822_date iso out)
    string(REGEX MATCH "^([0-9]+)-([0-9]+)-([0-9]+)$" _ "${iso}")
    math(EXPR y "${CMAKE_MATCH_1}")
    math(EXPR m "${CMAKE_MATCH_2}")
    math(EXPR d "${CMAKE_MATCH_3}")
    # Sakamoto's day of the week, 0 being Sunday.
    set(offsets 0 3 2 5 0 3 5 1 4 6 2 4)
    math(EXPR mi "${m} - 1")
    list(GET offsets ${mi} t)
    if(m LESS 3)
        math(EXPR y "${y} - 1")
    endif()
    math(EXPR dow "(${y} + ${y} / 4 - ${y} / 100 + ${y} / 400 + ${t} + ${d}) % 7")
    set(days Sun Mon Tue Wed Thu Fri Sat)
    set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
    list(GET days ${dow} day)
    list(GET months ${mi} month)
    set(${out} "${day}, ${CMAKE_MATCH_3} ${month} ${CMAKE_MATCH_1} 00:00:00 +0000" PARENT_SCOPE)
endfunction()

# CHANGELOG's releases ("1.21.0 (2026-12-06)" over a line of dashes, then prose and "- "
# items) in the Debian changelog format that dpkg and lintian read.
file(READ ${CMAKE_SOURCE_DIR}/CHANGELOG changelog)
# Semicolons and brackets would split or join CMake list items; they travel masked.
string(REPLACE ";" "<semicolon>" changelog "${changelog}")
string(REPLACE "[" "<open>" changelog "${changelog}")
string(REPLACE "]" "<close>" changelog "${changelog}")
string(REPLACE "\n" ";" lines "${changelog}")
set(debian_changelog "")
set(entry "")
set(newest "")
macro(pelloran_close_entry)
    if(version)
        string(STRIP "${entry}" entry)
        string(REGEX REPLACE "\n\n\n+" "\n\n" entry "${entry}")
        pelloran_rfc2822_date(${date} rfc_date)
        string(APPEND debian_changelog "pelloran (${version}) unstable; urgency=medium\n\n  "
               "${entry}\n\n -- ${PELLORAN_MAINTAINER}  ${rfc_date}\n\n")
    endif()
endmacro()
set(version "")
foreach(line IN LISTS lines)
    if(line MATCHES "^([0-9]+\\.[0-9]+\\.[0-9]+) \\(([0-9]+-[0-9]+-[0-9]+)\\)$")
        set(next_version ${CMAKE_MATCH_1})
        set(next_date ${CMAKE_MATCH_2})
        pelloran_close_entry()
        set(version ${next_version})
        set(date ${next_date})
        set(entry "")
        if(NOT newest)
            set(newest ${version})
        endif()
    elseif(NOT version OR line MATCHES "^-+$")
        # The title and notes above the first release, and the headings' underlines.
    elseif(line MATCHES "^- (.*)")
        string(APPEND entry "  * ${CMAKE_MATCH_1}\n")
    elseif(line MATCHES "^  (.*)")
        string(APPEND entry "    ${CMAKE_MATCH_1}\n")
    elseif(line STREQUAL "")
        string(APPEND entry "\n")
    else()
        string(APPEND entry "  ${line}\n")
    endif()
endforeach()
pelloran_close_entry()
if(NOT newest STREQUAL PROJECT_VERSION)
    message(WARNING "CHANGELOG has no entry for ${PROJECT_VERSION} at its top")
endif()
string(REPLACE "<semicolon>" ";" debian_changelog "${debian_changelog}")
string(REPLACE "<open>" "[" debian_changelog "${debian_changelog}")
string(REPLACE "<close>" "]" debian_changelog "${debian_changelog}")
string(STRIP "${debian_changelog}" debian_changelog)
file(WRITE ${PELLORAN_PACKAGE_DIR}/changelog "${debian_changelog}\n")
pelloran_gzip(${PELLORAN_PACKAGE_DIR}/changelog ${PELLORAN_PACKAGE_DIR}/changelog.gz)
set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${CMAKE_SOURCE_DIR}/CHANGELOG)

# The copyright file in Debian's machine-readable form, its licence text taken from LICENSE.
file(READ ${CMAKE_SOURCE_DIR}/LICENSE license)
if(NOT license MATCHES "Copyright \\(c\\) ([^\n]+)\n+(.*)$")
    message(FATAL_ERROR "LICENSE has no \"Copyright (c)\" line")
endif()
set(holder "${CMAKE_MATCH_1}")
string(STRIP "${CMAKE_MATCH_2}" license_text)
string(REGEX REPLACE "\n\n" "\n.\n" license_text "${license_text}")
string(REPLACE "\n" "\n " license_text "${license_text}")
file(WRITE ${PELLORAN_PACKAGE_DIR}/copyright
     "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
     "Upstream-Name: Pelloran\n"
     "Upstream-Contact: ${PELLORAN_MAINTAINER}\n"
     "Source: ${PROJECT_HOMEPAGE_URL}\n\n"
     "Files: *\n"
     "Copyright: ${holder}\n"
     "License: Expat\n"
     " ${license_text}\n")
set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${CMAKE_SOURCE_DIR}/LICENSE)
install(FILES ${PELLORAN_PACKAGE_DIR}/copyright ${PELLORAN_PACKAGE_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pelloran)
set(CPACK_PACKAGE_VENDOR "${PELLORAN_CONTACT_NAME}")
set(CPACK_PACKAGE_CONTACT "${PELLORAN_MAINTAINER}")
set(CPACK_PACKAGE_HOMEPAGE_URL "${PROJECT_HOMEPAGE_URL}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "turn sprite pictures into their masks, in batches")
set(CPACK_PACKAGE_DESCRIPTION [[
Pelloran turns game sprites into their masks. Pick the sprite's background
colour (the transparency colour) and a mask colour, choose any number of
picture files, and mask them all in one run. Every pixel of the background
colour becomes the mask colour, every other pixel the background colour, and
the mask is written as a BMP file beside its sprite.

It reads BMP, PNG, GIF, JPEG and TGA sprites, shows each sprite and its mask
side by side while it works, and comes with pelloran-mask, the same masking
on the command line for scripts.]])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Every install rule is in the default component. Naming it, rather than installing all,
# makes cpack write install_manifest_Unspecified.txt and leave install_manifest.txt, the
# list a `cmake --install` elsewhere is removed by, alone.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};Pelloran;Unspecified;/")
set(CPACK_STRIP_FILES ON)
# Directories the staging creates get these whatever the builder's umask is.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The libraries the programs link come from dpkg-shlibdeps. What Qt opens at run time it
# cannot see: the Wayland platform plugin (the window runs on X11 or XWayland without it)
# and the window's fixed-width font, which falls back to another one when missing.
# libqt6multimedia6, linked, carries the sound backends itself.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland, fonts-liberation")
include(CPack)
