// SPDX-License-Identifier: MIT
#include "platform/wayland/compositor_layout.h"

#include <gio/gio.h>
#include <xkbcommon/xkbcommon.h>

#include <cstring>

namespace quillmote {
namespace {

xkb_keymap* compileText(xkb_context* context, const std::string& keymapText) {
  return xkb_keymap_new_from_string(context, keymapText.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                    XKB_KEYMAP_COMPILE_NO_FLAGS);
}

std::shared_ptr<const LayoutTable> tableFor(xkb_keymap* keymap, std::uint32_t group) {
  const xkb_layout_index_t groups = xkb_keymap_num_layouts(keymap);
  const char* name = xkb_keymap_layout_get_name(keymap, group);
  std::string shown = name ? name : "unnamed layout";
  if (groups > 1) {
    shown += " (group " + std::to_string(group + 1) + " of " + std::to_string(groups) + ")";
  }
  return std::make_shared<const LayoutTable>(keymap, group, shown);
}

// The name XKB gives the layout `names` ("de+nodeadkeys" → "German (no dead keys)").
std::string layoutNameOf(xkb_context* context, const std::string& names) {
  const std::size_t plus = names.find('+');
  const std::string layout = names.substr(0, plus);
  const std::string variant = plus == std::string::npos ? "" : names.substr(plus + 1);
  xkb_rule_names rules{nullptr, nullptr, layout.c_str(), variant.c_str(), nullptr};
  xkb_keymap* keymap = xkb_keymap_new_from_names(context, &rules, XKB_KEYMAP_COMPILE_NO_FLAGS);
  if (keymap == nullptr) return "";
  const char* name = xkb_keymap_layout_get_name(keymap, 0);
  std::string found = name ? name : "";
  xkb_keymap_unref(keymap);
  return found;
}

}  // namespace

std::shared_ptr<const LayoutTable> layoutFromKeymap(const std::string& keymapText,
                                                    std::uint32_t group, std::string& error) {
  xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  xkb_keymap* keymap = context ? compileText(context, keymapText) : nullptr;
  std::shared_ptr<const LayoutTable> table;
  if (keymap == nullptr) {
    error = "cannot read the keyboard layout the Wayland compositor sent.";
  } else {
    table = tableFor(keymap, group < xkb_keymap_num_layouts(keymap) ? group : 0);
    xkb_keymap_unref(keymap);
  }
  if (context != nullptr) xkb_context_unref(context);
  return table;
}

std::pair<std::uint32_t, GroupSource> activeGroup(xkb_context* context, xkb_keymap* keymap,
                                                  std::optional<std::uint32_t> reported,
                                                  const std::optional<std::string>& recorded) {
  const xkb_layout_index_t groups = xkb_keymap_num_layouts(keymap);
  if (reported && *reported < groups) return {*reported, GroupSource::kCompositor};
  if (recorded && groups > 1) {
    // Keymaps name their groups for people, as XKB's own names for the recorded layout do.
    const std::string wanted = layoutNameOf(context, *recorded);
    for (xkb_layout_index_t group = 0; group < groups && !wanted.empty(); ++group) {
      const char* name = xkb_keymap_layout_get_name(keymap, group);
      if (name != nullptr && wanted == name) return {group, GroupSource::kDesktopRecord};
    }
  }
  return {0, GroupSource::kFirst};
}

CompositorLayout::CompositorLayout(WaylandDesktop& desktop, DesktopLayoutRecord record)
    : desktop_(desktop),
      record_(std::move(record)),
      context_(xkb_context_new(XKB_CONTEXT_NO_FLAGS)) {}

CompositorLayout::~CompositorLayout() {
  if (keymap_ != nullptr) xkb_keymap_unref(keymap_);
  if (context_ != nullptr) xkb_context_unref(context_);
}

std::shared_ptr<const LayoutTable> CompositorLayout::current() {
  if (context_ == nullptr) return nullptr;
  if (desktop_.keymapsReceived() != keymapsSeen_ && !desktop_.keymap().empty()) {
    // A keymap that does not compile keeps the last one.
    if (xkb_keymap* keymap = compileText(context_, desktop_.keymap())) {
      if (keymap_ != nullptr) xkb_keymap_unref(keymap_);
      keymap_ = keymap;
      table_.reset();
    }
    keymapsSeen_ = desktop_.keymapsReceived();
  }
  if (keymap_ == nullptr) return nullptr;
  std::optional<std::string> recorded;
  if (record_ && !desktop_.group() && xkb_keymap_num_layouts(keymap_) > 1) recorded = record_();
  if (table_ && !desktop_.group() && recorded == recorded_) return table_;
  auto [group, source] = activeGroup(context_, keymap_, desktop_.group(), recorded);
  if (!table_ || group != group_) table_ = tableFor(keymap_, group);
  group_ = group;
  groupSource_ = source;
  recorded_ = recorded;
  return table_;
}

std::string CompositorLayout::groupSource() const {
  switch (groupSource_) {
    case GroupSource::kCompositor:
      return "the group the compositor reports";
    case GroupSource::kDesktopRecord:
      return "the input source GNOME records as in use";
    case GroupSource::kFirst:
      return "its first group";
  }
  return "";
}

std::optional<std::string> gnomeInputSource() {
  GSettingsSchemaSource* schemas = g_settings_schema_source_get_default();
  GSettingsSchema* schema =
      schemas ? g_settings_schema_source_lookup(schemas, "org.gnome.desktop.input-sources", TRUE)
              : nullptr;
  if (schema == nullptr) return std::nullopt;
  std::optional<std::string> found;
  if (g_settings_schema_has_key(schema, "mru-sources")) {
    GSettings* settings = g_settings_new_full(schema, nullptr, nullptr);
    // The source in use is the most recently used one; only keyboard layouts ("xkb") name
    // a group of the keymap.
    GVariant* recent = g_settings_get_value(settings, "mru-sources");
    if (g_variant_is_of_type(recent, G_VARIANT_TYPE("a(ss)")) && g_variant_n_children(recent) > 0) {
      const char* type = nullptr;
      const char* id = nullptr;
      g_variant_get_child(recent, 0, "(&s&s)", &type, &id);
      if (std::strcmp(type, "xkb") == 0) found = id;
    }
    g_variant_unref(recent);
    g_object_unref(settings);
  }
  g_settings_schema_unref(schema);
  return found;
}

}  // namespace quillmote
