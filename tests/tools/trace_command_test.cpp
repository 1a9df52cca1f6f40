// `quillmote-cli trace`: the trace command run in-process over string streams, then the
// real binary run end to end with its standard streams captured.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "support/interpreter_harness.h"
#include "tools/trace_command.h"

extern char** environ;

namespace quillmote {
namespace {

using test::bytes;
using test::withoutComments;

// A fresh directory per test for the byte-stream files, removed afterwards.
class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "quillmote-trace-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr) << "mkdtemp: " << std::strerror(errno);
    dir_ = pattern;
  }

  void TearDown() override {
    if (!dir_.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(dir_, ignored);
    }
  }

  // Writes `streamBytes` (raw bytes) to a file in the directory; returns its path.
  std::string writeFile(const std::string& name, const std::string& streamBytes) {
    std::string path = (dir_ / name).string();
    std::ofstream file(path, std::ios::binary);
    file << streamBytes;
    EXPECT_TRUE(file.good()) << "cannot write " << path;
    return path;
  }

  std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
  }

  std::filesystem::path dir_;
};

// --- runTrace in-process -------------------------------------------------------------

struct TraceResult {
  int status;
  std::string out;
  std::string err;
};

class RunTraceTest : public TempDirTest {
 protected:
  TraceResult trace(std::vector<std::string> files, const std::string& standardInput = "",
                    TraceOptions options = {}) {
    options.files = std::move(files);
    std::istringstream in(standardInput);
    std::ostringstream out, err;
    int status = runTrace(options, in, out, err);
    return {status, out.str(), err.str()};
  }
};

TEST_F(RunTraceTest, HoldOpenedInOneFileAppliesInTheNext) {
  std::string first = writeFile("first", bytes("{ESC},hold"));
  std::string second = writeFile("second", bytes(",shift.a"));
  TraceResult result = trace({first, second});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(withoutComments(result.out),
            "key 56 down\n"
            "key 0 down\n"
            "key 0 up\n"
            "key 56 up\n");
}

TEST_F(RunTraceTest, EachFileIsItsOwnRun) {
  // A keyword split across two files is not joined: the end of the first run settles
  // its pending bytes, which are then typed one by one.
  std::string first = writeFile("first", bytes("{ESC},hol"));
  std::string second = writeFile("second", bytes("d,shift.a"));
  TraceResult result = trace({first, second});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(withoutComments(result.out),
            "key 43 down\nkey 43 up\n"   // ,
            "key 4 down\nkey 4 up\n"     // h
            "key 31 down\nkey 31 up\n"   // o
            "key 37 down\nkey 37 up\n"   // l
            "key 2 down\nkey 2 up\n"     // d
            "key 43 down\nkey 43 up\n"   // ,
            "key 56 down\nkey 56 up\n"   // shift. as a named key
            "key 0 down\nkey 0 up\n");   // a
}

TEST_F(RunTraceTest, MouseStateCarriesAcrossFiles) {
  std::string first = writeFile("first", bytes("{ESC},moulock."));
  std::string second = writeFile("second", bytes("{ESC},move,5,5."));
  TraceOptions options;
  options.pointer = GlobalMousePoint{.v = 20, .h = 10};
  TraceResult result = trace({first, second}, "", options);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out,
            "mouse 10 20 update=0 buttons=1 0 0\n"
            "warp 15 25\n"
            "warp 10 20\n"
            "mouse 15 25 update=1 buttons=1 0 0\n");
}

TEST_F(RunTraceTest, DashReadsStandardInput) {
  TraceResult result = trace({"-"}, bytes("{ESC},click."));
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out,
            "mouse 0 0 update=0 buttons=1 0 0\n"
            "mouse 0 0 update=0 buttons=0 0 0\n");
}

TEST_F(RunTraceTest, NoFilesReadsStandardInput) {
  TraceResult result = trace({}, "a");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(withoutComments(result.out), "key 0 down\nkey 0 up\n");
}

TEST_F(RunTraceTest, StandardInputTakesItsPlaceAmongFiles) {
  std::string first = writeFile("first", bytes("{ESC},hold"));
  std::string last = writeFile("last", bytes("b"));
  TraceResult result = trace({first, "-", last}, bytes(",shift.a"));
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(withoutComments(result.out),
            "key 56 down\n"
            "key 0 down\n"
            "key 0 up\n"
            "key 56 up\n"
            "key 11 down\n"
            "key 11 up\n");
}

TEST_F(RunTraceTest, MissingFileFailsBeforeAnyTrace) {
  std::string good = writeFile("good", bytes("abc"));
  std::string missing = (dir_ / "missing").string();
  TraceResult result = trace({good, missing});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err.find(missing), std::string::npos) << result.err;
}

TEST_F(RunTraceTest, ZeroBytesNeverReachTheInterpreter) {
  // A zero inside a keyword does not break it.
  std::string stream = writeFile("stream", bytes("{ESC},cl{NUL}ick.{NUL}a{NUL}{NUL}b"));
  TraceResult result = trace({stream});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(withoutComments(result.out),
            "mouse 0 0 update=0 buttons=1 0 0\n"
            "mouse 0 0 update=0 buttons=0 0 0\n"
            "key 0 down\nkey 0 up\n"
            "key 11 down\nkey 11 up\n");
}

TEST_F(RunTraceTest, ScreenAndPointerOptionsShapeTheSimulatedScreen) {
  TraceOptions options;
  options.screen = ScreenSize{640, 480};
  options.pointer = GlobalMousePoint{.v = 400, .h = 600};
  TraceResult result = trace({"-"}, bytes("{ESC},move,100,100."), options);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out,
            "warp 700 500\n"
            "warp 600 400\n"
            "mouse 639 479 update=1 buttons=0 0 0\n");
}

// --- option parsers --------------------------------------------------------------------

struct ScreenCase {
  const char* name;
  const char* text;
  bool accepted;
  ScreenSize expected;
};

// Failure messages name the case rather than dumping its bytes.
void PrintTo(const ScreenCase& c, std::ostream* out) { *out << c.name; }

class ParseScreenSizeTest : public ::testing::TestWithParam<ScreenCase> {};

TEST_P(ParseScreenSizeTest, AcceptsWidthByHeightWithinRange) {
  const ScreenCase& c = GetParam();
  // A rejected text must leave the caller's value as it was.
  ScreenSize screen{-7, -9};
  EXPECT_EQ(parseScreenSize(c.text, screen), c.accepted) << "text: \"" << c.text << '"';
  ScreenSize expected = c.accepted ? c.expected : ScreenSize{-7, -9};
  EXPECT_EQ(screen.width, expected.width) << "text: \"" << c.text << '"';
  EXPECT_EQ(screen.height, expected.height) << "text: \"" << c.text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    TraceOptions, ParseScreenSizeTest,
    ::testing::Values(ScreenCase{"full_hd", "1920x1080", true, {1920, 1080}},
                      ScreenCase{"smallest", "1x1", true, {1, 1}},
                      ScreenCase{"largest", "32767x32767", true, {32767, 32767}},
                      ScreenCase{"zero_width", "0x5", false, {}},
                      ScreenCase{"zero_height", "5x0", false, {}},
                      ScreenCase{"separator_only", "x", false, {}},
                      ScreenCase{"missing_height", "10x", false, {}},
                      ScreenCase{"missing_width", "x10", false, {}},
                      ScreenCase{"beyond_16_bits", "40000x10", false, {}},
                      ScreenCase{"just_beyond_largest", "32768x10", false, {}},
                      ScreenCase{"comma_separator", "5,5", false, {}},
                      ScreenCase{"negative", "-1x5", false, {}},
                      ScreenCase{"three_fields", "10x10x10", false, {}},
                      ScreenCase{"upper_case_separator", "10X10", false, {}},
                      ScreenCase{"trailing_garbage", "10x10px", false, {}},
                      ScreenCase{"leading_space", " 10x10", false, {}},
                      ScreenCase{"empty", "", false, {}}),
    [](const ::testing::TestParamInfo<ScreenCase>& info) { return info.param.name; });

struct PointerCase {
  const char* name;
  const char* text;
  bool accepted;
  int x;
  int y;
};

void PrintTo(const PointerCase& c, std::ostream* out) { *out << c.name; }

class ParsePointerTest : public ::testing::TestWithParam<PointerCase> {};

TEST_P(ParsePointerTest, AcceptsAPointOnTheScreen) {
  const PointerCase& c = GetParam();
  const ScreenSize screen{800, 600};
  GlobalMousePoint pointer{.v = -3, .h = -4};
  EXPECT_EQ(parsePointer(c.text, screen, pointer), c.accepted) << "text: \"" << c.text << '"';
  EXPECT_EQ(pointer.h, c.accepted ? c.x : -4) << "text: \"" << c.text << '"';
  EXPECT_EQ(pointer.v, c.accepted ? c.y : -3) << "text: \"" << c.text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    TraceOptions, ParsePointerTest,
    ::testing::Values(PointerCase{"inside", "10,20", true, 10, 20},
                      PointerCase{"origin", "0,0", true, 0, 0},
                      PointerCase{"last_pixel", "799,599", true, 799, 599},
                      PointerCase{"right_of_screen", "800,0", false, 0, 0},
                      PointerCase{"below_screen", "0,600", false, 0, 0},
                      PointerCase{"negative_x", "-1,0", false, 0, 0},
                      PointerCase{"negative_y", "0,-1", false, 0, 0},
                      PointerCase{"screen_separator", "5x5", false, 0, 0},
                      PointerCase{"comma_only", ",", false, 0, 0},
                      PointerCase{"missing_y", "5,", false, 0, 0},
                      PointerCase{"three_fields", "1,2,3", false, 0, 0},
                      PointerCase{"beyond_16_bits", "70000,1", false, 0, 0},
                      PointerCase{"empty", "", false, 0, 0}),
    [](const ::testing::TestParamInfo<PointerCase>& info) { return info.param.name; });

// --- the real binary ---------------------------------------------------------------------

struct CliResult {
  int exitStatus;  // -1 when the program did not exit normally
  std::string out;
  std::string err;
};

class CliTest : public TempDirTest {
 protected:
  // Runs quillmote-cli with `args`, standard input from `standardInput`, and waits for
  // it to end.
  CliResult runCli(const std::vector<std::string>& args,
                   const std::string& standardInput = "") {
    std::string inPath = writeFile("cli-stdin", standardInput);
    std::string outPath = (dir_ / "cli-stdout").string();
    std::string errPath = (dir_ / "cli-stderr").string();

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, inPath.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);

    std::vector<std::string> argvStrings{QUILLMOTE_CLI};
    argvStrings.insert(argvStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : argvStrings) argv.push_back(arg.data());
    argv.push_back(nullptr);

    pid_t pid = 0;
    int spawnError =
        posix_spawn(&pid, QUILLMOTE_CLI, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawnError != 0) {
      ADD_FAILURE() << "cannot start " << QUILLMOTE_CLI << ": " << std::strerror(spawnError);
      return {-1, "", ""};
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
      if (errno != EINTR) {
        ADD_FAILURE() << "waitpid: " << std::strerror(errno);
        return {-1, "", ""};
      }
    }
    int exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return {exitStatus, readFile(outPath), readFile(errPath)};
  }
};

TEST_F(CliTest, TraceOfAFilePrintsCommentedLines) {
  std::string stream = writeFile("hold.bin", bytes("{ESC},hold,shift.a"));
  CliResult result = runCli({"trace", stream});
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(result.out,
            "key 56 down  # shift\n"
            "key 0 down  # a\n"
            "key 0 up  # a\n"
            "key 56 up  # shift\n");
  EXPECT_EQ(result.err, "");
}

TEST_F(CliTest, TraceReadsStandardInputWithoutFiles) {
  CliResult result = runCli({"trace"}, bytes("{ESC},dblclick,right."));
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(result.out,
            "mouse 0 0 update=0 buttons=0 1 0\n"
            "mouse 0 0 update=0 buttons=0 0 0\n"
            "mouse 0 0 update=0 buttons=0 1 0\n"
            "mouse 0 0 update=0 buttons=0 0 0\n");
}

TEST_F(CliTest, UnknownOptionIsAUsageError) {
  CliResult result = runCli({"trace", "--bogus"});
  EXPECT_EQ(result.exitStatus, 2);
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err.find("--bogus"), std::string::npos) << result.err;
}

TEST_F(CliTest, MissingSubcommandIsAUsageError) {
  CliResult result = runCli({});
  EXPECT_EQ(result.exitStatus, 2);
  EXPECT_NE(result.err, "");
}

TEST_F(CliTest, MissingFileIsNamedAndExitsTwo) {
  CliResult result = runCli({"trace", "/no/such/file"});
  EXPECT_EQ(result.exitStatus, 2);
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err.find("/no/such/file"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("No such file or directory"), std::string::npos) << result.err;
}

TEST_F(CliTest, MoveIsConfinedToTheGivenScreen) {
  std::string stream = writeFile("move.bin", bytes("{ESC},move,10000,0."));
  CliResult result = runCli({"trace", "--screen", "800x600", "--pointer", "10,10", stream});
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(result.out,
            "warp 10010 10\n"
            "warp 10 10\n"
            "mouse 799 10 update=1 buttons=0 0 0\n");
}

TEST_F(CliTest, PointerOutsideTheScreenIsRefused) {
  std::string stream = writeFile("click.bin", bytes("{ESC},click."));
  CliResult result =
      runCli({"trace", "--pointer", "800,10", "--screen", "800x600", stream});
  EXPECT_EQ(result.exitStatus, 2);
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err.find("800,10"), std::string::npos) << result.err;
}

TEST_F(CliTest, MalformedScreenIsRefused) {
  CliResult result = runCli({"trace", "--screen", "800by600"});
  EXPECT_EQ(result.exitStatus, 2);
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err.find("800by600"), std::string::npos) << result.err;
}

}  // namespace
}  // namespace quillmote

namespace quillmote {
namespace {

// The bundled demo stream, the first thing a newcomer sees, traced exactly as
// scripts/demo.sh traces it; examples/demo.trace is what the README's example shows.
TEST(DemoStream, traces_to_the_recorded_events) {
  std::ifstream recorded(QUILLMOTE_EXAMPLES_DIR "/demo.trace");
  ASSERT_TRUE(recorded) << "examples/demo.trace is missing";
  std::string expected((std::istreambuf_iterator<char>(recorded)),
                       std::istreambuf_iterator<char>());

  TraceOptions options;
  ASSERT_TRUE(parsePointer("500,300", options.screen, options.pointer));
  options.files = {QUILLMOTE_EXAMPLES_DIR "/demo.qm"};
  std::istringstream noInput;
  std::ostringstream out, err;
  ASSERT_EQ(runTrace(options, noInput, out, err), 0) << err.str();
  EXPECT_EQ(out.str(), expected);
}

}  // namespace
}  // namespace quillmote
