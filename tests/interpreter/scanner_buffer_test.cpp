// The scanner's input buffer: a token longer than the buffer stays one token, the buffer
// grows exactly when the pending bytes reach its capacity less one, and stays grown.
#include <gtest/gtest.h>

#include "support/interpreter_harness.h"

namespace quillmote::test {
namespace {

constexpr int kInitialCapacity = 16384;

TEST(ScannerBuffer, grows_at_capacity_less_one_pending_and_keeps_long_names_whole) {
  const struct {
    std::size_t letters;  // of a key name after ESC: all pending until the period arrives
    int capacityAfter;
  } cases[] = {{1, kInitialCapacity},
               {16382, kInitialCapacity},
               {16383, 2 * kInitialCapacity},
               {16384, 2 * kInitialCapacity}};
  for (const auto& c : cases) {
    SCOPED_TRACE("letters: " + std::to_string(c.letters));
    TracedInterpreter traced;
    TokenLog tokens;
    traced.interpreter().setTokenObserver(&tokens);
    const std::string name = std::string(c.letters, 'x') + ".";
    EXPECT_EQ(traced.run(bytes("{ESC}") + name), c.letters == 1 ? "key 7 down\nkey 7 up\n" : "");
    ASSERT_EQ(tokens.entries.size(), 2u) << "the name was split into several tokens";
    EXPECT_TRUE(tokens.entries[1] == "8 '" + name + "' INITIAL");
    EXPECT_EQ(traced.interpreter().bufferCapacity(), c.capacityAfter);
    // Later runs, with bytes or without, keep the buffer as it is.
    EXPECT_EQ(traced.run("a"), "key 0 down\nkey 0 up\n");
    EXPECT_EQ(traced.run(""), "");
    EXPECT_EQ(traced.interpreter().bufferCapacity(), c.capacityAfter);
  }
}

}  // namespace
}  // namespace quillmote::test
