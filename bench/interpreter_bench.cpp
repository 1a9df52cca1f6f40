// SPDX-License-Identifier: MIT
// Throughput of the whole interpreter (scanner, byte feed seam, keyboard model) over
// byte streams held in memory, with every event discarded. Also counts heap
// allocations made while a stream is interpreted: after the first run, which creates
// the scanner's buffer, there should be none at all.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <new>
#include <string>

#include "interpreter/byte_source.h"
#include "interpreter/interpreter.h"
#include "monitor/monitor_queue.h"
#include "monitor/monitor_tap.h"
#include "platform/event_services.h"

// glibc's own allocator, behind the counting functions below.
extern "C" {
void* __libc_malloc(std::size_t size);                     // NOLINT(bugprone-reserved-identifier)
void* __libc_calloc(std::size_t count, std::size_t size);  // NOLINT(bugprone-reserved-identifier)
void* __libc_realloc(void* block, std::size_t size);       // NOLINT(bugprone-reserved-identifier)
void __libc_free(void* block);                             // NOLINT(bugprone-reserved-identifier)
}

namespace {

// Every allocation in the process, C++ and C alike: the generated scanner takes its
// buffer from malloc and grows it with realloc, so counting operator new alone would
// miss exactly the allocations that matter here.
std::atomic<std::uint64_t> heapAllocations{0};

void countAllocation() { heapAllocations.fetch_add(1, std::memory_order_relaxed); }

}  // namespace

// The C allocation functions, defined in the program so that every library's calls come
// here (glibc supports replacing them this way). free needs no count and stays glibc's.
extern "C" void* malloc(std::size_t size) noexcept {
  countAllocation();
  return __libc_malloc(size);
}

extern "C" void* calloc(std::size_t count, std::size_t size) noexcept {
  countAllocation();
  return __libc_calloc(count, size);
}

extern "C" void* realloc(void* block, std::size_t size) noexcept {
  countAllocation();
  return __libc_realloc(block, size);
}

// Counting replacements for the global operator new. The array and sized forms reach
// these through the standard library's own forwarding.
void* operator new(std::size_t size) {
  countAllocation();
  if (void* block = __libc_malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  countAllocation();
  return __libc_malloc(size == 0 ? 1 : size);
}

void* operator new(std::size_t size, std::align_val_t alignment) {
  countAllocation();
  const auto align = static_cast<std::size_t>(alignment);
  const std::size_t rounded = ((size == 0 ? 1 : size) + align - 1) / align * align;
  if (void* block = std::aligned_alloc(align, rounded)) return block;
  throw std::bad_alloc();
}

void operator delete(void* block) noexcept { __libc_free(block); }
void operator delete(void* block, std::size_t) noexcept { __libc_free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { __libc_free(block); }
void operator delete(void* block, std::align_val_t) noexcept { __libc_free(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { __libc_free(block); }

namespace {

using quillmote::EventServices;
using quillmote::GlobalMousePoint;
using quillmote::Interpreter;
using quillmote::MemoryByteSource;
using quillmote::Point;
using quillmote::StartCondition;

// Takes every event and keeps only a count of the key events, which also keeps the
// optimiser from dropping the work that leads up to a post.
class DiscardingEventServices final : public EventServices {
 public:
  void postKeyboardEvent(std::uint16_t, std::uint16_t, bool) override { ++events_; }
  void postMouseEvent(Point, bool, std::uint32_t, bool, bool, bool) override {}
  void warpMouseCursorPosition(Point) override {}
  GlobalMousePoint getGlobalMouse() override { return {}; }

  std::uint64_t events() const { return events_; }

 private:
  std::uint64_t events_ = 0;
};

constexpr std::size_t kStreamBytes = 1 << 20;

bool anyKeyDown(const Interpreter& interpreter) {
  for (int keyCode = 0; keyCode < 256; ++keyCode) {
    if (interpreter.keyState().state(keyCode) != 0) return true;
  }
  return false;
}

// Prose-like typing: words of letters, digits and punctuation, spaces, line feeds.
std::string typedTextStream() {
  static const char* const kWords[] = {
      "The",   "quick",  "brown", "fox", "jumps", "over", "13",  "lazy", "dogs;",
      "Hello", "world!", "(a+b)", "=",   "c*2",   "x_1,", "#42", "[ok]", "\"yes\"",
      "it's",  "100%",   "<tag>", "a/b", "q?",    "{x}",  "~$5", "^&@",  "end."};
  std::string text;
  text.reserve(kStreamBytes + 64);
  std::size_t word = 0;
  std::size_t onLine = 0;
  while (text.size() < kStreamBytes) {
    text += kWords[word % std::size(kWords)];
    word = word * 7 + 3;
    if (++onLine == 11) {
      text += '\n';
      onLine = 0;
    } else {
      text += ' ';
    }
  }
  text.resize(kStreamBytes);
  text.back() = '\n';
  return text;
}

// Commands a switch-access device sends: named keys, held and locked modifiers,
// combinations and release-all, with some typing between them. Each pattern leaves
// every key up and the scanner in plain typing, so runs can follow one another.
std::string mixedStream() {
  // \033 is ESC; an octal escape stops at the first byte that is not an octal digit.
  static const char* const kPatterns[] = {
      "\033enter.",
      "\033,hold,shift.a",
      "\033,lock,control.c\033,rel.",
      "\033,combine,control,option,del.",
      "\033pgup.\033f5.\033Tab.",
      "\033,hold,shift,control.\033left.",
      "\033,combine,command,q.",
      "hi \033backspace.",
      "\033,lock,alt,shift.xy\033,rel.",
      "\033,hold,option,command.\033kp7.",
      "\033space.\033unknownname.",
  };
  std::string stream;
  stream.reserve(kStreamBytes + 64);
  std::size_t pattern = 0;
  while (stream.size() < kStreamBytes) {
    stream += kPatterns[pattern];
    pattern = (pattern + 1) % std::size(kPatterns);
  }
  return stream;
}

// One run of the interpreter per iteration, over the same interpreter so its state and
// buffer are reused as they are between runs of translation.
// The monitor's tap sits between the interpreter and its events, as in the programs; closed,
// it makes no records. With `monitored` a queue is attached, as while the monitor window is
// open: every byte, command and event is stored as a record (the queue is not drained here,
// so most stores overwrite the oldest, which costs the same).
void runInterpreter(benchmark::State& state, const std::string& stream, bool monitored = false) {
  DiscardingEventServices events;
  quillmote::MonitorTap tap(events);
  quillmote::MonitorQueue queue;
  Interpreter interpreter(tap);
  if (monitored) {
    interpreter.setTokenObserver(&tap);
    tap.attach(&queue);
  }
  // Warm-up: the first run creates the scanner's buffer. Its count shows that the
  // counting works; the runs measured below should add nothing to it.
  const std::uint64_t beforeFirstRun = heapAllocations.load(std::memory_order_relaxed);
  {
    MemoryByteSource warmUp(stream);
    interpreter.do_quillmote(warmUp);
  }
  const std::uint64_t firstRunAllocations =
      heapAllocations.load(std::memory_order_relaxed) - beforeFirstRun;
  // Every iteration must start where the first did, or they measure different work.
  if (interpreter.startCondition() != StartCondition::INITIAL || anyKeyDown(interpreter)) {
    state.SkipWithError("the stream leaves a command open or a key down");
    return;
  }
  const std::uint64_t eventsPerRun = events.events();

  std::uint64_t allocations = 0;
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores): the loop idiom
    MemoryByteSource feed(stream);
    const std::uint64_t before = heapAllocations.load(std::memory_order_relaxed);
    interpreter.do_quillmote(feed);
    allocations += heapAllocations.load(std::memory_order_relaxed) - before;
  }
  benchmark::DoNotOptimize(events.events());
  state.counters["key_events_per_byte"] =
      benchmark::Counter(static_cast<double>(eventsPerRun) / static_cast<double>(stream.size()));

  const auto bytes = static_cast<std::int64_t>(state.iterations() * stream.size());
  state.SetBytesProcessed(bytes);
  state.counters["allocs_per_byte"] =
      benchmark::Counter(static_cast<double>(allocations) / static_cast<double>(bytes));
  state.counters["allocs"] = benchmark::Counter(static_cast<double>(allocations));
  state.counters["first_run_allocs"] = benchmark::Counter(static_cast<double>(firstRunAllocations));
}

void BM_TypedText(benchmark::State& state) {
  static const std::string stream = typedTextStream();
  runInterpreter(state, stream);
}
BENCHMARK(BM_TypedText)->Unit(benchmark::kMillisecond);

void BM_MixedCommands(benchmark::State& state) {
  static const std::string stream = mixedStream();
  runInterpreter(state, stream);
}
BENCHMARK(BM_MixedCommands)->Unit(benchmark::kMillisecond);

void BM_MixedCommandsMonitored(benchmark::State& state) {
  static const std::string stream = mixedStream();
  runInterpreter(state, stream, true);
}
BENCHMARK(BM_MixedCommandsMonitored)->Unit(benchmark::kMillisecond);

// ESC, a key name of N letters that no key has, and its period: every byte must cost the
// same whatever the name's length, so ten times the letters take ten times the time.
void BM_LongUnknownName(benchmark::State& state) {
  const std::string stream =
      "\033" + std::string(static_cast<std::size_t>(state.range(0)), 'x') + ".";
  runInterpreter(state, stream);
  state.counters["ns_per_letter"] = benchmark::Counter(
      static_cast<double>(state.range(0)),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_LongUnknownName)->Arg(1'000'000)->Arg(10'000'000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
