// SPDX-License-Identifier: MIT
#include "platform/layout/layout_table.h"

#include <linux/input-event-codes.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <map>
#include <memory>

#include "keyboard/us_keyboard.h"
#include "platform/key_code_translation.h"

namespace quillmote {
namespace {

// Layouts that have AltGr put it on the right Alt key; some also name a key no keyboard has.
constexpr std::uint32_t kUsualLevel3Key = KEY_RIGHTALT + kXkbKeyCodeOffset;
constexpr std::uint32_t kSpaceKey = KEY_SPACE + kXkbKeyCodeOffset;
constexpr char kFirstPrintable = ' ';
constexpr char kLastPrintable = '~';

// Dead keys that give their plain character when followed by a space.
constexpr std::pair<char, xkb_keysym_t> kDeadKeys[] = {
    {'^', XKB_KEY_dead_circumflex}, {'`', XKB_KEY_dead_grave},     {'~', XKB_KEY_dead_tilde},
    {'\'', XKB_KEY_dead_acute},     {'"', XKB_KEY_dead_diaeresis},
};

using StatePointer = std::unique_ptr<xkb_state, decltype(&xkb_state_unref)>;

struct Candidate {
  KeyChord chord;
  int modifiers = 0;  // fewer is better: shift counts one, level three two
};

bool isWanted(xkb_keysym_t sym) {
  if (sym >= static_cast<xkb_keysym_t>(kFirstPrintable) &&
      sym <= static_cast<xkb_keysym_t>(kLastPrintable)) {
    return true;
  }
  for (auto [character, dead] : kDeadKeys) {
    if (sym == dead) return true;
  }
  return false;
}

}  // namespace

LayoutTable::LayoutTable(xkb_keymap* keymap, std::uint32_t layout, std::string name)
    : name_(std::move(name)) {
  const xkb_mod_mask_t shiftMask = 1u << xkb_keymap_mod_get_index(keymap, XKB_MOD_NAME_SHIFT);
  auto layoutOfKey = [&](xkb_keycode_t key) -> std::optional<xkb_layout_index_t> {
    xkb_layout_index_t layouts = xkb_keymap_num_layouts_for_key(keymap, key);
    if (layouts == 0) return std::nullopt;
    return layout % layouts;
  };
  auto firstSym = [&](xkb_keycode_t key, xkb_layout_index_t keyLayout, xkb_level_index_t level) {
    const xkb_keysym_t* syms = nullptr;
    int count = xkb_keymap_key_get_syms_by_level(keymap, key, keyLayout, level, &syms);
    return count == 1 ? syms[0] : XKB_KEY_NoSymbol;
  };
  const xkb_keycode_t minKey = xkb_keymap_min_keycode(keymap);
  const xkb_keycode_t maxKey = xkb_keymap_max_keycode(keymap);

  xkb_mod_mask_t level3Mask = 0;
  for (xkb_keycode_t key = minKey; key <= maxKey; ++key) {
    std::optional<xkb_layout_index_t> keyLayout = layoutOfKey(key);
    if (!keyLayout || firstSym(key, *keyLayout, 0) != XKB_KEY_ISO_Level3_Shift) continue;
    if (level3KeyCode_ == 0 || key == kUsualLevel3Key) level3KeyCode_ = key;
  }
  if (level3KeyCode_ != 0) {
    StatePointer pressed(xkb_state_new(keymap), &xkb_state_unref);
    xkb_state_update_mask(pressed.get(), 0, 0, 0, 0, 0, layout);
    xkb_state_update_key(pressed.get(), level3KeyCode_, XKB_KEY_DOWN);
    level3Mask = xkb_state_serialize_mods(pressed.get(), XKB_STATE_MODS_DEPRESSED);
  }

  // The easiest way to each wanted symbol: fewest modifiers, then the lowest key code.
  std::map<xkb_keysym_t, Candidate> easiest;
  for (xkb_keycode_t key = minKey; key <= maxKey; ++key) {
    std::optional<xkb_layout_index_t> keyLayout = layoutOfKey(key);
    if (!keyLayout) continue;
    xkb_level_index_t levels = xkb_keymap_num_levels_for_key(keymap, key, *keyLayout);
    for (xkb_level_index_t level = 0; level < levels; ++level) {
      xkb_keysym_t sym = firstSym(key, *keyLayout, level);
      if (!isWanted(sym)) continue;
      xkb_mod_mask_t masks[16];
      std::size_t count = xkb_keymap_key_get_mods_for_level(keymap, key, *keyLayout, level, masks,
                                                            std::size(masks));
      if (count == 0 && level == 0) masks[count++] = 0;
      for (std::size_t i = 0; i < count; ++i) {
        xkb_mod_mask_t mask = masks[i];
        bool level3 = level3Mask != 0 && (mask & level3Mask) == level3Mask;
        if ((mask & ~shiftMask & ~(level3 ? level3Mask : 0)) != 0) continue;
        Candidate candidate{{key, (mask & shiftMask) != 0, level3}, 0};
        candidate.modifiers = (candidate.chord.shift ? 1 : 0) + (level3 ? 2 : 0);
        auto [found, inserted] = easiest.try_emplace(sym, candidate);
        if (!inserted && candidate.modifiers < found->second.modifiers) found->second = candidate;
      }
    }
  }
  hasLatinLetters_ = true;
  for (char letter = 'a'; letter <= 'z'; ++letter) {
    if (!easiest.contains(static_cast<xkb_keysym_t>(letter))) hasLatinLetters_ = false;
  }

  // Each US position as the US keyboard types it, from the one character table.
  const std::array<std::uint16_t, 256> usEntries = USCharacterEntries();
  StatePointer state(xkb_state_new(keymap), &xkb_state_unref);
  for (char character = kFirstPrintable; character <= kLastPrintable; ++character) {
    std::uint16_t entry = usEntries[static_cast<unsigned char>(character)];
    std::optional<KeyCodeTranslation> position = translateKeyCode(entry & 0xFF);
    if (entry == kNoCharacterEntry || !position) continue;
    const bool shifted = (entry & kShiftFlag) != 0;
    const auto keysym = static_cast<xkb_keysym_t>(static_cast<unsigned char>(character));
    PositionTyping& typing = typings_[entry & 0x7F][shifted ? 1 : 0];

    xkb_state_update_mask(state.get(), shifted ? shiftMask : 0, 0, 0, 0, 0, layout);
    if (xkb_state_key_get_one_sym(state.get(), position->evdevCode + kXkbKeyCodeOffset) == keysym) {
      typing.kind = PositionTyping::Kind::kAsIs;
    } else if (auto found = easiest.find(keysym); found != easiest.end()) {
      typing.kind = PositionTyping::Kind::kChord;
      typing.chord = found->second.chord;
    } else {
      typing.kind = PositionTyping::Kind::kNotOnKeys;
      typing.keysym = keysym;
      for (auto [plain, dead] : kDeadKeys) {
        if (auto deadKey = easiest.find(dead); plain == character && deadKey != easiest.end()) {
          typing.deadKey = deadKey->second.chord;
        }
      }
    }
  }
}

const PositionTyping& LayoutTable::typing(std::uint16_t keyCode, bool shifted) const {
  static const PositionTyping kNoSymbol{};
  if (keyCode >= typings_.size()) return kNoSymbol;
  return typings_[keyCode][shifted ? 1 : 0];
}

std::string LayoutTable::charactersNotOnKeys() const {
  std::string characters;
  for (const auto& position : typings_) {
    for (const PositionTyping& typing : position) {
      if (typing.kind == PositionTyping::Kind::kNotOnKeys) {
        characters += static_cast<char>(typing.keysym);
      }
    }
  }
  std::sort(characters.begin(), characters.end());
  return characters;
}

std::string LayoutTable::charactersThroughDeadKeys() const {
  std::string characters = charactersNotOnKeys();
  std::erase_if(characters, [this](char character) {
    for (const auto& position : typings_) {
      for (const PositionTyping& typing : position) {
        if (typing.keysym == static_cast<unsigned char>(character) && typing.deadKey) return false;
      }
    }
    return true;
  });
  return characters;
}

std::set<std::uint32_t> LayoutTable::keyCodesUsed() const {
  std::set<std::uint32_t> keys{kSpaceKey};
  if (level3KeyCode_ != 0) keys.insert(level3KeyCode_);
  for (const auto& position : typings_) {
    for (const PositionTyping& typing : position) {
      if (typing.kind == PositionTyping::Kind::kChord) keys.insert(typing.chord.keyCode);
      if (typing.deadKey) keys.insert(typing.deadKey->keyCode);
    }
  }
  return keys;
}

}  // namespace quillmote
