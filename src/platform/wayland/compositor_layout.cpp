// SPDX-License-Identifier: MIT
#include "platform/wayland/compositor_layout.h"

#include <xkbcommon/xkbcommon.h>

namespace quillmote {

std::shared_ptr<const LayoutTable> layoutFromKeymap(const std::string& keymapText,
                                                    std::uint32_t group, std::string& error) {
  xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  xkb_keymap* keymap =
      context ? xkb_keymap_new_from_string(context, keymapText.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                           XKB_KEYMAP_COMPILE_NO_FLAGS)
              : nullptr;
  std::shared_ptr<const LayoutTable> table;
  if (keymap == nullptr) {
    error = "cannot read the keyboard layout the Wayland compositor sent.";
  } else {
    const xkb_layout_index_t groups = xkb_keymap_num_layouts(keymap);
    if (group >= groups) group = 0;
    const char* name = xkb_keymap_layout_get_name(keymap, group);
    std::string shown = name ? name : "unnamed layout";
    if (groups > 1) {
      shown += " (group " + std::to_string(group + 1) + " of " + std::to_string(groups) + ")";
    }
    table = std::make_shared<const LayoutTable>(keymap, group, shown);
    xkb_keymap_unref(keymap);
  }
  if (context != nullptr) xkb_context_unref(context);
  return table;
}

std::shared_ptr<const LayoutTable> CompositorLayout::current() {
  const std::uint32_t group = desktop_.group().value_or(0);
  if (desktop_.keymapsReceived() != keymapsSeen_ || group != group_ || !table_) {
    if (desktop_.keymap().empty()) return table_;
    std::string error;
    // A keymap that does not compile keeps the last one.
    if (auto table = layoutFromKeymap(desktop_.keymap(), group, error)) table_ = std::move(table);
    keymapsSeen_ = desktop_.keymapsReceived();
    group_ = group;
  }
  return table_;
}

std::string CompositorLayout::groupSource() const {
  return desktop_.group() ? "the group the compositor reports" : "its first group";
}

}  // namespace quillmote
