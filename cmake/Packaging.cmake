# SPDX-License-Identifier: MIT
# The Debian package: `cmake --build build --target package` writes
# build/quillmote_<version>_<arch>.deb, installed with `sudo apt install ./build/...deb`.
# The programs, desktop entry and icon bring their own install rules; this adds the man
# pages, the udev rule, the systemd user unit, the AppStream metadata, the licence, the
# changelog and the documentation. Two builds of one commit give the same package, byte
# for byte (reproducible builds).

set(QUILLMOTE_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(QUILLMOTE_CHANGELOG ${PROJECT_SOURCE_DIR}/CHANGELOG.md)
# The address the programs' alerts give, so the package names the same one.
file(STRINGS ${PROJECT_SOURCE_DIR}/src/platform/alerts.h contact_line
     REGEX "kDeveloperContactAddress = \"[^\"]+\"")
if(NOT contact_line MATCHES "\"([^\"]+)\"")
  message(FATAL_ERROR "No kDeveloperContactAddress in src/platform/alerts.h")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${PROJECT_SOURCE_DIR}/src/platform/alerts.h)
set(CPACK_PACKAGE_CONTACT "Quillmote developers <${CMAKE_MATCH_1}>")

# The time every file in the package carries, and the date the man pages give: that of
# the last commit, so that it changes with the sources and with nothing else. A builder
# that sets SOURCE_DATE_EPOCH itself, as Debian's tools do, decides it instead; outside a
# git checkout it is the newest release's date in CHANGELOG.md.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(source_date_epoch $ENV{SOURCE_DATE_EPOCH})
else()
  find_package(Git QUIET)
  if(Git_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE source_date_epoch
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --absolute-git-dir
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE git_dir
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    # A commit appends to HEAD's log: configure again, for the new commit's time.
    if(EXISTS "${git_dir}/logs/HEAD")
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${git_dir}/logs/HEAD)
    endif()
  endif()
  if(NOT source_date_epoch MATCHES "^[0-9]+$")
    file(STRINGS ${QUILLMOTE_CHANGELOG} newest_release REGEX "^## " LIMIT_COUNT 1)
    string(REGEX MATCH "[0-9]+-[0-9]+-[0-9]+$" newest_release_date "${newest_release}")
    execute_process(COMMAND date -u -d "${newest_release_date} 12:00" +%s
                    OUTPUT_VARIABLE source_date_epoch OUTPUT_STRIP_TRAILING_WHITESPACE
                    COMMAND_ERROR_IS_FATAL ANY)
  endif()
endif()

install(FILES ${QUILLMOTE_PACKAGING_DIR}/70-quillmote-uinput.rules
        DESTINATION lib/udev/rules.d)
install(FILES ${QUILLMOTE_PACKAGING_DIR}/quillmote-cli@.service DESTINATION lib/systemd/user)
install(FILES ${QUILLMOTE_PACKAGING_DIR}/example.env
        DESTINATION share/doc/quillmote/examples)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION share/doc/quillmote)

# The licence, in Debian's machine-readable copyright format, made from LICENSE itself.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license_text)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
if(NOT license_text MATCHES "Copyright \\(c\\) ([^\n]+)\n\n(.+)$")
  message(FATAL_ERROR "LICENSE holds no \"Copyright (c) ...\" line followed by its terms")
endif()
set(copyright_holder "${CMAKE_MATCH_1}")
string(STRIP "${CMAKE_MATCH_2}" license_terms)
string(REPLACE "\n\n" "\n.\n" license_terms "${license_terms}")
string(REPLACE "\n" "\n " license_terms " ${license_terms}")
set(doc_dir ${PROJECT_BINARY_DIR}/doc)
file(CONFIGURE OUTPUT ${doc_dir}/copyright CONTENT
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: Quillmote
Upstream-Contact: @CPACK_PACKAGE_CONTACT@

Files: *
Copyright: @copyright_holder@
License: Expat
@license_terms@
" @ONLY)
install(FILES ${doc_dir}/copyright DESTINATION share/doc/quillmote)

# The release notes, written once in CHANGELOG.md: as the package's changelog (Debian's
# format; the package is native, so it is changelog.gz) and in the AppStream metadata
# that software centres show.
set(release_notes ${QUILLMOTE_PACKAGING_DIR}/release-notes.sh)
set(QUILLMOTE_SCREENSHOTS_URL "" CACHE STRING
    "Web address where docs/images is published; software centres show those screenshots")
set(metainfo ${PROJECT_BINARY_DIR}/${QUILLMOTE_APP_ID}.metainfo.xml)
add_custom_command(
  OUTPUT ${doc_dir}/changelog.gz
  COMMAND ${release_notes} debian ${doc_dir}/changelog ${QUILLMOTE_CHANGELOG}
          ${PROJECT_VERSION} ${CPACK_PACKAGE_CONTACT}
  COMMAND gzip -9 -n -f ${doc_dir}/changelog
  DEPENDS ${release_notes} ${QUILLMOTE_CHANGELOG}
  COMMENT "Writing the package's changelog from CHANGELOG.md"
  VERBATIM)
add_custom_command(
  OUTPUT ${metainfo}
  COMMAND ${release_notes} appstream ${metainfo} ${QUILLMOTE_CHANGELOG} ${PROJECT_VERSION}
          ${QUILLMOTE_PACKAGING_DIR}/quillmote.metainfo.xml.in ${QUILLMOTE_APP_ID}
          ${PROJECT_SOURCE_DIR}/docs/user-guide.md ${QUILLMOTE_SCREENSHOTS_URL}
  DEPENDS ${release_notes} ${QUILLMOTE_CHANGELOG}
          ${QUILLMOTE_PACKAGING_DIR}/quillmote.metainfo.xml.in
          ${PROJECT_SOURCE_DIR}/docs/user-guide.md
  COMMENT "Writing the AppStream metadata with the releases in CHANGELOG.md"
  VERBATIM)
add_custom_target(release_notes ALL DEPENDS ${doc_dir}/changelog.gz ${metainfo})
install(FILES ${doc_dir}/changelog.gz DESTINATION share/doc/quillmote)
install(FILES ${metainfo} DESTINATION share/metainfo)
# Where the README's links lead in the installed copy too.
install(FILES ${PROJECT_SOURCE_DIR}/docs/user-guide.md ${PROJECT_SOURCE_DIR}/docs/command-language.md
              ${PROJECT_SOURCE_DIR}/docs/development.md ${PROJECT_SOURCE_DIR}/docs/performance.md
        DESTINATION share/doc/quillmote/docs)

# Man pages, made by help2man from the programs' own --help and --version, so they say
# what the programs say. Running the programs is part of the build, sanitizer builds too.
if(QUILLMOTE_BUILD_PROGRAMS)
  find_program(QUILLMOTE_HELP2MAN help2man)
  find_program(QUILLMOTE_GZIP gzip REQUIRED)
  if(NOT QUILLMOTE_HELP2MAN)
    message(FATAL_ERROR "help2man makes the man pages: install it (scripts/setup.sh does)")
  endif()

  # A leak report at exit goes to stderr, which help2man drops, but it would also turn
  # the exit status into a failure. GCC's thread sanitizer cannot map its shadow memory
  # under the wider address randomisation of newer kernels, so it runs without.
  # help2man dates the pages by SOURCE_DATE_EPOCH.
  set(run_program ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
                  SOURCE_DATE_EPOCH=${source_date_epoch})
  if(QUILLMOTE_SANITIZE MATCHES "thread")
    list(PREPEND run_program setarch ${CMAKE_HOST_SYSTEM_PROCESSOR} -R)
  endif()

  set(man_dir ${PROJECT_BINARY_DIR}/man)
  set(cli_commands ${man_dir}/quillmote-cli-commands.h2m)
  add_custom_command(
    OUTPUT ${cli_commands}
    COMMAND ${run_program} ${QUILLMOTE_PACKAGING_DIR}/cli-subcommands-h2m.sh
            $<TARGET_FILE:quillmote-cli> ${cli_commands}
    DEPENDS quillmote-cli ${QUILLMOTE_PACKAGING_DIR}/cli-subcommands-h2m.sh
    COMMENT "Collecting the --help of every quillmote-cli command"
    VERBATIM)

  set(man_pages)
  # quillmote_man_page(PROGRAM NAME_LINE INCLUDE...): man/PROGRAM.1 and man/PROGRAM.1.gz.
  function(quillmote_man_page program name_line)
    set(page ${man_dir}/${program}.1)
    set(includes)
    foreach(include IN LISTS ARGN)
      list(APPEND includes --include=${include})
    endforeach()
    add_custom_command(
      OUTPUT ${page} ${page}.gz
      COMMAND ${run_program} ${QUILLMOTE_HELP2MAN} --no-info --section=1
              "--name=${name_line}" ${includes} --output=${page}
              $<TARGET_FILE:${program}>
      COMMAND ${QUILLMOTE_GZIP} -9 -n -k -f ${page}
      DEPENDS ${program} ${ARGN}
      COMMENT "Writing the ${program}(1) man page"
      VERBATIM)
    set(man_pages ${man_pages} ${page}.gz PARENT_SCOPE)
  endfunction()

  file(MAKE_DIRECTORY ${man_dir})
  quillmote_man_page(quillmote "a serial device as the computer's keyboard and mouse"
                     ${QUILLMOTE_PACKAGING_DIR}/quillmote.h2m)
  quillmote_man_page(quillmote-cli
                     "a serial device as the computer's keyboard and mouse, without a desktop"
                     ${cli_commands} ${QUILLMOTE_PACKAGING_DIR}/quillmote-cli.h2m)
  add_custom_target(man_pages ALL DEPENDS ${man_pages})
  install(FILES ${man_pages} DESTINATION share/man/man1)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillmote)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
# Debian wraps descriptions at 80 columns; a line of "." separates paragraphs.
set(CPACK_PACKAGE_DESCRIPTION
    "Quillmote lets an assistive-technology device on a serial port (a switch
interface, a scanning keyboard, a head pointer) act as the computer's keyboard
and mouse. It reads the device's stream of characters and escape commands and
turns it into key presses, held and locked modifiers, pointer moves and mouse
clicks, through the X server's XTest extension or, under Wayland and on the
console, a uinput virtual device.
.
The package holds the desktop program quillmote, the command-line tool
quillmote-cli (trace a device's bytes, list ports, translate without a
desktop, check the machine), a systemd user unit that runs it on a port for
kiosks and small boards, and a udev rule that gives the user at the seat
access to /dev/uinput.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${QUILLMOTE_PACKAGING_DIR}/postinst)
# cpack dates the archives and every file in them by SOURCE_DATE_EPOCH, and sorts them.
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/CPackSourceDate.cmake
     CONTENT "set(ENV{SOURCE_DATE_EPOCH} ${source_date_epoch})\n")
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackSourceDate.cmake)
include(CPack)
