// SPDX-License-Identifier: MIT
#include "platform/layout/assumed_layout.h"

#include <xkbcommon/xkbcommon.h>

#include <fstream>

namespace quillmote {
namespace {

LayoutNames fromLayoutWord(const std::string& word, const std::string& source) {
  LayoutNames names;
  std::size_t colon = word.find(':');
  names.layout = word.substr(0, colon);
  if (colon != word.npos) names.variant = word.substr(colon + 1);
  names.source = source;
  return names;
}

// KEY=value or KEY="value" lines, as the shell reads them; # starts a comment.
std::string shellValue(const std::string& line, const std::string& key) {
  if (!line.starts_with(key + "=")) return {};
  std::string value = line.substr(key.size() + 1);
  if (std::size_t hash = value.find('#'); hash != value.npos && value[0] != '"') {
    value.erase(hash);
  }
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
  if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0]) {
    value = value.substr(1, value.size() - 2);
  }
  return value;
}

}  // namespace

LayoutNames assumeLayout(const std::string& option, const char* environment,
                         const std::string& keyboardFile) {
  if (!option.empty()) return fromLayoutWord(option, "the --layout option");
  if (environment != nullptr && environment[0] != '\0') {
    return fromLayoutWord(environment, "QUILLMOTE_LAYOUT");
  }
  LayoutNames names;
  std::ifstream file(keyboardFile);
  for (std::string line; std::getline(file, line);) {
    for (auto [key, field] :
         {std::pair{"XKBLAYOUT", &names.layout}, std::pair{"XKBVARIANT", &names.variant},
          std::pair{"XKBMODEL", &names.model}, std::pair{"XKBOPTIONS", &names.options}}) {
      if (std::string value = shellValue(line, key); !value.empty()) *field = value;
    }
  }
  if (!names.layout.empty()) {
    names.source = keyboardFile;
    return names;
  }
  return LayoutNames{"us", "", "", "", "the default"};
}

std::string describeLayout(const LayoutNames& names) {
  std::string text = names.layout;
  if (!names.variant.empty()) text += " (" + names.variant + ")";
  return text;
}

std::shared_ptr<const LayoutTable> compileLayout(const LayoutNames& names, std::string& error) {
  std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context(
      xkb_context_new(XKB_CONTEXT_NO_FLAGS), &xkb_context_unref);
  xkb_rule_names rules{nullptr, names.model.c_str(), names.layout.c_str(), names.variant.c_str(),
                       names.options.c_str()};
  xkb_keymap* keymap =
      context ? xkb_keymap_new_from_names(context.get(), &rules, XKB_KEYMAP_COMPILE_NO_FLAGS)
              : nullptr;
  if (keymap == nullptr) {
    error = "the keyboard layout \"" + describeLayout(names) + "\" (from " + names.source +
            ") is not one this system knows; give an XKB layout name such as de, fr or "
            "us:dvorak, or --key-positions to press plain US key positions.";
    return nullptr;
  }
  auto table = std::make_shared<const LayoutTable>(keymap, 0, describeLayout(names));
  xkb_keymap_unref(keymap);
  return table;
}

}  // namespace quillmote
