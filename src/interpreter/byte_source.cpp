// SPDX-License-Identifier: MIT
#include "interpreter/byte_source.h"

#include <cstdint>

namespace quillmote {

int MemoryByteSource::yy_read_char() {
  while (next_ < bytes_.size()) {
    char byte = bytes_[next_++];
    if (byte != 0) return static_cast<std::int8_t>(byte);
    ++zeroByteReplies_;
  }
  return 0;
}

}  // namespace quillmote
