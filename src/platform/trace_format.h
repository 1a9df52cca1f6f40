// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>

#include "platform/event_services.h"

namespace quillmote {

// The trace format's lines, one per platform operation, without the newline. The trace
// backend prints them and the monitor shows them, so the two can never disagree:
//   key 56 down  # shift
//   mouse 510 295 update=1 buttons=1 0 0
//   warp 510 295
std::string keyEventLine(std::uint16_t keyCode, bool keyDown);
std::string mouseEventLine(Point position, bool update, bool leftButton, bool rightButton,
                           bool thirdButton);
std::string warpLine(Point position);

}  // namespace quillmote
