// The choice of backend at start, from QUILLMOTE_BACKEND and the session's variables.
#include "platform/backends.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace quillmote {
namespace {

TEST(ChooseBackend, named_backend_wins_otherwise_the_session_decides) {
  struct Case {
    const char* name;
    const char* requested;  // QUILLMOTE_BACKEND
    const char* display;
    const char* waylandDisplay;
    std::optional<BackendKind> chosen;
  };
  const Case cases[] = {
      {"xtest_named_under_wayland", "xtest", nullptr, "wayland-0", BackendKind::kXTest},
      {"uinput_named_under_x11", "uinput", ":0", nullptr, BackendKind::kUInput},
      {"trace_named_in_any_session", "trace", ":0", "wayland-0", BackendKind::kTrace},
      {"x11_session", nullptr, ":0", nullptr, BackendKind::kXTest},
      {"wayland_session_with_xwayland", nullptr, ":0", "wayland-0", BackendKind::kUInput},
      {"console_without_any_display", nullptr, nullptr, nullptr, BackendKind::kUInput},
      {"empty_strings_count_as_unset_x11", "", ":0", "", BackendKind::kXTest},
      {"empty_display_counts_as_unset", "", "", nullptr, BackendKind::kUInput},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error = "untouched";
    std::optional<BackendKind> chosen =
        chooseBackend(c.requested, c.display, c.waylandDisplay, error);
    ASSERT_EQ(chosen.has_value(), c.chosen.has_value());
    EXPECT_STREQ(backendName(*chosen), backendName(*c.chosen));
    EXPECT_EQ(error, "untouched");
  }
}

TEST(ChooseBackend, unknown_name_chooses_nothing_and_names_it) {
  std::string error;
  // An X11 session would give xtest: the bad name must not fall back to it.
  EXPECT_EQ(chooseBackend("bogus", ":0", nullptr, error), std::nullopt);
  EXPECT_NE(error.find("bogus"), std::string::npos) << error;
}

}  // namespace
}  // namespace quillmote
