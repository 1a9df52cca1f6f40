// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <string_view>

namespace quillmote {

// The scanner's one source of bytes: the serial line (serial/descriptor_byte_source.h) in
// normal use; memory for the trace tool, tests and benchmarks.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // The next byte as a signed 8-bit value widened to int; 0 means end of input.
  virtual int yy_read_char() = 0;
};

// A captured byte stream: its end acts as a stop. Zero bytes are dropped, as the line's
// feed drops them; the replies they would get are counted.
class MemoryByteSource final : public ByteSource {
 public:
  explicit MemoryByteSource(std::string_view bytes) : bytes_(bytes) {}

  int yy_read_char() override;

  std::size_t zeroByteReplies() const { return zeroByteReplies_; }

 private:
  std::string_view bytes_;
  std::size_t next_ = 0;
  std::size_t zeroByteReplies_ = 0;
};

}  // namespace quillmote
