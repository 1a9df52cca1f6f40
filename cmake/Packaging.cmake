# The Debian package: `cmake --build build --target package` writes
# build/quillmote_<version>_<arch>.deb, installed with `sudo apt install ./build/...deb`.
# The programs, desktop entry and icon bring their own install rules; this adds the man
# pages, the udev rule, the systemd user unit and the documentation.

set(QUILLMOTE_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

install(FILES ${QUILLMOTE_PACKAGING_DIR}/70-quillmote-uinput.rules
        DESTINATION lib/udev/rules.d)
install(FILES ${QUILLMOTE_PACKAGING_DIR}/quillmote-cli@.service DESTINATION lib/systemd/user)
install(FILES ${QUILLMOTE_PACKAGING_DIR}/example.env
        DESTINATION share/doc/quillmote/examples)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION share/doc/quillmote)
# Where the README's link to it leads in the installed copy too.
install(FILES ${PROJECT_SOURCE_DIR}/docs/user-guide.md DESTINATION share/doc/quillmote/docs)

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
  set(run_program ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0)
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
# The address the programs' alerts give, so the package names the same one.
file(STRINGS ${PROJECT_SOURCE_DIR}/src/platform/alerts.h contact_line
     REGEX "kDeveloperContactAddress = \"[^\"]+\"")
if(NOT contact_line MATCHES "\"([^\"]+)\"")
  message(FATAL_ERROR "No kDeveloperContactAddress in src/platform/alerts.h")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${PROJECT_SOURCE_DIR}/src/platform/alerts.h)
set(CPACK_PACKAGE_CONTACT "Quillmote developers <${CMAKE_MATCH_1}>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "serial device as the computer's keyboard and mouse")
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
include(CPack)
