// `quillmote-cli trace`: the trace command run in-process over string streams, then the
// real binary run end to end with its standard streams captured.
#include "tools/trace_command.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/interpreter_harness.h"

extern char** environ;

namespace quillmote {
namespace {

using test::bytes;
using test::withoutComments;

std::string readFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

struct Result {
  int status;  // exit status; -1 when the program did not exit normally
  std::string out;
  std::string err;
};

// A fresh directory per test for the byte-stream files, removed afterwards.
class TraceTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "quillmote-trace-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr) << "mkdtemp: " << std::strerror(errno);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
  }

  // Writes raw bytes to a file in the directory; returns its path.
  std::string writeFile(const std::string& name, const std::string& streamBytes) {
    std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << streamBytes;
    return path;
  }

  Result trace(std::vector<std::string> files, const std::string& standardInput = "") {
    TraceOptions options;
    options.files = std::move(files);
    std::istringstream in(standardInput);
    std::ostringstream out, err;
    int status = runTrace(options, in, out, err);
    return {status, out.str(), err.str()};
  }

  // Runs quillmote-cli with `args` and `standardInput`, and waits for it to end.
  Result runCli(std::vector<std::string> args, const std::string& standardInput = "") {
    const std::string in = writeFile("stdin", standardInput);
    const std::string out = (dir_ / "stdout").string(), err = (dir_ / "stderr").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    args.insert(args.begin(), QUILLMOTE_CLI);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    int spawnError = posix_spawn(&pid, QUILLMOTE_CLI, &actions, nullptr, argv.data(), environ);
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
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(out), readFile(err)};
  }

  std::filesystem::path dir_;
};

// Start condition, keys and buttons carry from one file to the next.
TEST_F(TraceTest, state_carries_from_one_file_to_the_next) {
  Result result = trace({writeFile("first", bytes("{ESC},moulock.{ESC},hold")),
                         writeFile("second", bytes(",shift.a{ESC},move,5,5."))});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(withoutComments(result.out),
            "mouse 0 0 update=0 buttons=1 0 0\n"
            "key 56 down\nkey 0 down\nkey 0 up\nkey 56 up\n"
            "warp 5 5\nwarp 0 0\nmouse 5 5 update=1 buttons=1 0 0\n");
}

// A keyword split across two files is not joined: the end of the first run settles its
// pending bytes, which are then typed one by one.
TEST_F(TraceTest, each_file_is_its_own_run) {
  Result result = trace({writeFile("first", bytes("{ESC},hol")), writeFile("second", "d")});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(withoutComments(result.out),
            "key 43 down\nkey 43 up\nkey 4 down\nkey 4 up\nkey 31 down\nkey 31 up\n"
            "key 37 down\nkey 37 up\nkey 2 down\nkey 2 up\n");
}

TEST_F(TraceTest, dash_reads_standard_input_in_its_place_among_files) {
  Result result = trace({writeFile("first", bytes("{ESC},hold")), "-", writeFile("last", "b")},
                        bytes(",shift.a"));
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(withoutComments(result.out),
            "key 56 down\nkey 0 down\nkey 0 up\nkey 56 up\nkey 11 down\nkey 11 up\n");
}

// A zero inside a keyword does not break it.
TEST_F(TraceTest, zero_bytes_never_reach_the_interpreter) {
  Result result = trace({writeFile("stream", bytes("{ESC},cl{NUL}ick.{NUL}a{NUL}{NUL}b"))});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(withoutComments(result.out),
            "mouse 0 0 update=0 buttons=1 0 0\nmouse 0 0 update=0 buttons=0 0 0\n"
            "key 0 down\nkey 0 up\nkey 11 down\nkey 11 up\n");
}

TEST(TraceOptions, screen_is_width_x_height_each_1_to_32767) {
  const struct {
    const char* text;
    int width, height;
  } accepted[] = {{"1920x1080", 1920, 1080}, {"1x1", 1, 1}, {"32767x32767", 32767, 32767}};
  for (const auto& c : accepted) {
    ScreenSize screen{-7, -9};
    EXPECT_TRUE(parseScreenSize(c.text, screen)) << c.text;
    EXPECT_EQ(screen.width, c.width) << c.text;
    EXPECT_EQ(screen.height, c.height) << c.text;
  }
  for (const char* text : {"0x5", "5x0", "32768x10", "10x32768", "x", "10x", "x10", "5,5", "-1x5",
                           "10x10x10", "10X10", "10x10px", " 10x10", ""}) {
    ScreenSize screen{-7, -9};  // a refused text leaves it untouched
    EXPECT_FALSE(parseScreenSize(text, screen)) << '"' << text << '"';
    EXPECT_EQ(screen.width, -7) << '"' << text << '"';
    EXPECT_EQ(screen.height, -9) << '"' << text << '"';
  }
}

TEST(TraceOptions, pointer_is_x_comma_y_on_the_screen) {
  const ScreenSize screen{800, 600};
  const struct {
    const char* text;
    int x, y;
  } accepted[] = {{"10,20", 10, 20}, {"0,0", 0, 0}, {"799,599", 799, 599}};
  for (const auto& c : accepted) {
    GlobalMousePoint pointer{.v = -3, .h = -4};
    EXPECT_TRUE(parsePointer(c.text, screen, pointer)) << c.text;
    EXPECT_EQ(pointer.h, c.x) << c.text;
    EXPECT_EQ(pointer.v, c.y) << c.text;
  }
  for (const char* text :
       {"800,0", "0,600", "-1,0", "0,-1", "5x5", ",", "5,", "1,2,3", "70000,1", ""}) {
    GlobalMousePoint pointer{.v = -3, .h = -4};  // a refused text leaves it untouched
    EXPECT_FALSE(parsePointer(text, screen, pointer)) << '"' << text << '"';
    EXPECT_EQ(pointer.h, -4) << '"' << text << '"';
    EXPECT_EQ(pointer.v, -3) << '"' << text << '"';
  }
}

TEST_F(TraceTest, cli_prints_each_event_with_the_key_name_as_a_comment) {
  Result result = runCli({"trace", writeFile("hold.bin", bytes("{ESC},hold,shift.a"))});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out,
            "key 56 down  # shift\nkey 0 down  # a\nkey 0 up  # a\nkey 56 up  # shift\n");
  EXPECT_EQ(result.err, "");
}

TEST_F(TraceTest, cli_reads_standard_input_without_files) {
  Result result = runCli({"trace"}, bytes("{ESC},dblclick,right."));
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out,
            "mouse 0 0 update=0 buttons=0 1 0\nmouse 0 0 update=0 buttons=0 0 0\n"
            "mouse 0 0 update=0 buttons=0 1 0\nmouse 0 0 update=0 buttons=0 0 0\n");
}

TEST_F(TraceTest, cli_confines_moves_to_the_given_screen) {
  Result result = runCli({"trace", "--screen", "800x600", "--pointer", "10,10",
                          writeFile("move.bin", bytes("{ESC},move,10000,10000."))});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "warp 10010 10010\nwarp 10 10\nmouse 799 599 update=1 buttons=0 0 0\n");
}

// A missing file is reported before anything is traced, even after a good file.
TEST_F(TraceTest, cli_names_a_missing_file_and_exits_2) {
  const std::string missing = (dir_ / "missing").string();
  Result result = runCli({"trace", writeFile("good", "abc"), missing});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err.find(missing + ": No such file or directory"), std::string::npos)
      << result.err;
}

TEST_F(TraceTest, cli_usage_errors_exit_2_naming_the_bad_text) {
  const std::string click = writeFile("click.bin", bytes("{ESC},click."));
  const struct {
    std::vector<std::string> args;
    const char* named;
  } cases[] = {
      {{"trace", "--bogus"}, "--bogus"},
      {{"trace", "--screen", "800by600"}, "800by600"},
      {{"trace", "--pointer", "800,10", "--screen", "800x600", click}, "800,10"},
      {{}, "subcommand"},
  };
  for (const auto& c : cases) {
    Result result = runCli(c.args);
    EXPECT_EQ(result.status, 2) << c.named;
    EXPECT_EQ(result.out, "") << c.named;
    EXPECT_NE(result.err.find(c.named), std::string::npos) << result.err;
  }
}

// The bundled demo stream, traced as scripts/demo.sh traces it; examples/demo.trace is
// what the README's example shows.
TEST(DemoStream, traces_to_the_recorded_events) {
  const std::string expected = readFile(QUILLMOTE_EXAMPLES_DIR "/demo.trace");
  ASSERT_FALSE(expected.empty()) << "examples/demo.trace is missing";
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
