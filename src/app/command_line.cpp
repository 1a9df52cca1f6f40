// SPDX-License-Identifier: MIT
#include "app/command_line.h"

#include <algorithm>
#include <span>
#include <string_view>

#include "platform/alerts.h"

namespace quillmote {
namespace {

constexpr int kUsageError = 2;

// The options that Qt's application objects and the xcb platform take from argv, with one
// dash or two. Those with a value take it as the next argument; -style and -stylesheet
// also as -style=NAME.
constexpr std::string_view kQtOptionsWithValue[] = {"platform",
                                                    "platformpluginpath",
                                                    "platformtheme",
                                                    "plugin",
                                                    "qwindowgeometry",
                                                    "geometry",
                                                    "qwindowtitle",
                                                    "title",
                                                    "qwindowicon",
                                                    "icon",
                                                    "session",
                                                    "display",
                                                    "name",
                                                    "style",
                                                    "stylesheet"};
constexpr std::string_view kQtOptionsWithAttachedValue[] = {"style", "stylesheet"};
constexpr std::string_view kQtFlags[] = {"reverse", "testability", "widgetcount",
                                         "nograb",  "dograb",      "sync"};

void printUsage(std::ostream& stream) {
  stream << "Usage: quillmote [--help] [--version] [Qt options such as -platform NAME]\n";
}

void printHelp(std::ostream& out) {
  printUsage(out);
  out << "Lets a device on a serial port act as the computer's keyboard and mouse.\n"
         "\n"
         "Quillmote reads the byte stream of an assistive-technology device (a switch\n"
         "interface, a scanning keyboard, a head pointer) from a serial port and turns it\n"
         "into key presses, pointer moves and mouse clicks. Its window says whether\n"
         "translation runs, on which port and at which rate; the File menu starts and stops\n"
         "it, and Preferences chooses the port and the line speed. For use without a\n"
         "desktop, see quillmote-cli(1).\n"
         "\n"
         "Options:\n"
         "  -h, --help     print this help and exit\n"
         "      --version  print the version and exit\n"
         "\n"
         "Qt's own options, such as -platform NAME, -style NAME, -display DISPLAY and\n"
         "-reverse, are passed on to Qt.\n"
         "\n"
         "Environment:\n"
         "  QUILLMOTE_BACKEND  where the events go: xtest (the X server's XTest\n"
         "                     extension), uinput (a virtual input device made through\n"
         "                     /dev/uinput) or trace (print them on standard output);\n"
         "                     default xtest in an X11 session (DISPLAY set, no\n"
         "                     WAYLAND_DISPLAY), else uinput\n"
         "  QUILLMOTE_KEYS     positions: press keys at their US keyboard positions\n"
         "                     instead of typing what a US keyboard types\n"
         "  QUILLMOTE_LAYOUT   the keyboard layout the uinput backend types for (XKB\n"
         "                     names: de, fr, us:dvorak); default: the Wayland\n"
         "                     compositor's, else /etc/default/keyboard, else us\n"
         "  QUILLMOTE_POINTER  relative: move the uinput backend's pointer by steps\n"
         "                     (beside another mouse); default absolute, to the\n"
         "                     exact spot, where the desktop's size is known\n"
         "\n"
         "Files:\n"
         "  ~/.config/Quillmote/Quillmote.conf\n"
         "                     the port, the line speed, and whether translation was\n"
         "                     running at the last quit\n"
         "\n"
         "Report bugs to "
      << kDeveloperContactAddress << ".\n";
}

// kFlag stands alone (or carries its value after =); kWithValue takes the next argument.
enum class QtOption { kNone, kFlag, kWithValue };

bool contains(std::span<const std::string_view> names, std::string_view name) {
  return std::ranges::find(names, name) != names.end();
}

// Which kind of Qt option `argument` is, with one dash or two.
QtOption findQtOption(std::string_view argument) {
  if (!argument.starts_with('-')) return QtOption::kNone;
  argument.remove_prefix(argument.starts_with("--") ? 2 : 1);
  if (contains(kQtOptionsWithValue, argument)) return QtOption::kWithValue;
  if (contains(kQtFlags, argument)) return QtOption::kFlag;
  std::size_t equals = argument.find('=');
  if (equals != std::string_view::npos &&
      contains(kQtOptionsWithAttachedValue, argument.substr(0, equals))) {
    return QtOption::kFlag;
  }
  return QtOption::kNone;
}

}  // namespace

std::optional<int> answerCommandLine(int argc, char** argv, std::ostream& out, std::ostream& err) {
  for (int i = 1; i < argc; ++i) {
    std::string_view argument = argv[i];
    if (argument == "-h" || argument == "--help") {
      printHelp(out);
      return 0;
    }
    if (argument == "--version") {
      out << "quillmote " QUILLMOTE_VERSION "\n";
      return 0;
    }
    QtOption option = findQtOption(argument);
    if (option != QtOption::kNone) {
      if (option == QtOption::kWithValue) {
        if (i + 1 == argc) {
          err << "quillmote: " << argument << " needs a value\n";
          printUsage(err);
          return kUsageError;
        }
        ++i;
      }
      continue;
    }
    err << "quillmote: " << (argument.starts_with('-') ? "unknown option " : "unexpected argument ")
        << argument << "\n";
    printUsage(err);
    err << "Try 'quillmote --help' for more information.\n";
    return kUsageError;
  }
  return std::nullopt;
}

}  // namespace quillmote
