// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/layout/layout_table.h"
#include "platform/wayland/wayland_desktop.h"

struct xkb_context;
struct xkb_keymap;

namespace quillmote {

// The table for layout (group) `group` of a keymap as a compositor sends it (xkb_v1 text),
// with the layout's name, and which of several groups it is, for people. Nothing, and why,
// when the text does not compile.
std::shared_ptr<const LayoutTable> layoutFromKeymap(const std::string& keymapText,
                                                    std::uint32_t group, std::string& error);

// The layout a desktop records as the one in use, as XKB names ("de", "fr+oss"), where it
// keeps such a record; nothing where it does not.
using DesktopLayoutRecord = std::function<std::optional<std::string>()>;

// Where the active group was taken from.
enum class GroupSource { kCompositor, kDesktopRecord, kFirst };

// The active group of `keymap`: the one the compositor reported, else the group whose
// layout is the one the desktop records, else the first.
std::pair<std::uint32_t, GroupSource> activeGroup(xkb_context* context, xkb_keymap* keymap,
                                                  std::optional<std::uint32_t> reported,
                                                  const std::optional<std::string>& recorded);

// The layout the compositor's keymap gives, followed while translation runs: a new keymap
// (the person chose another layout) is taken at the next key. The compositor reports the
// active group only to a client with the keyboard focus, which this is not; the desktop's
// own record stands in for it where there is one.
class CompositorLayout {
 public:
  CompositorLayout(WaylandDesktop& desktop, DesktopLayoutRecord record);
  ~CompositorLayout();
  CompositorLayout(const CompositorLayout&) = delete;
  CompositorLayout& operator=(const CompositorLayout&) = delete;

  // The table for the keymap and group as last announced; nothing before any keymap.
  std::shared_ptr<const LayoutTable> current();
  // Where the group came from, for people.
  std::string groupSource() const;

 private:
  WaylandDesktop& desktop_;
  DesktopLayoutRecord record_;
  xkb_context* context_;
  xkb_keymap* keymap_ = nullptr;
  std::uint32_t keymapsSeen_ = 0;
  std::uint32_t group_ = 0;
  GroupSource groupSource_ = GroupSource::kFirst;
  // The desktop's record the group was last worked out from: naming a recorded layout
  // compiles a keymap, far too slow to do again at every key.
  std::optional<std::string> recorded_;
  std::shared_ptr<const LayoutTable> table_;
};

// GNOME's record: the first of its most recently used input sources, when that is a
// keyboard layout; nothing where GNOME's settings are not installed.
std::optional<std::string> gnomeInputSource();

}  // namespace quillmote
