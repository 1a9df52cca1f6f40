// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/layout/layout_table.h"
#include "platform/wayland/wayland_desktop.h"

namespace quillmote {

// The table for layout (group) `group` of a keymap as a compositor sends it (xkb_v1 text),
// with the layout's name, and which of several groups it is, for people. Nothing, and why,
// when the text does not compile.
std::shared_ptr<const LayoutTable> layoutFromKeymap(const std::string& keymapText,
                                                    std::uint32_t group, std::string& error);

// The layout the compositor's keymap gives, followed while translation runs: a new keymap
// (the person chose another layout) is taken at the next key. The group is the one the
// compositor reports; it does so only to a client with the keyboard focus, which this is
// not, so otherwise the first group.
class CompositorLayout {
 public:
  explicit CompositorLayout(WaylandDesktop& desktop) : desktop_(desktop) {}

  // The table for the keymap and group as last announced; nothing before any keymap.
  std::shared_ptr<const LayoutTable> current();
  // Where the group came from, for people: "as the compositor reports it" or "the first".
  std::string groupSource() const;

 private:
  WaylandDesktop& desktop_;
  std::uint32_t keymapsSeen_ = 0;
  std::uint32_t group_ = 0;
  std::shared_ptr<const LayoutTable> table_;
};

}  // namespace quillmote
