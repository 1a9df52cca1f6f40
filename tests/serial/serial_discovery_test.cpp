// Finding ports and naming them: the registry's answers, its failures in the system's
// own words, and the display names people see.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "serial/serial.h"
#include "support/interpreter_harness.h"
#include "support/recording_alerts.h"

namespace quillmote::test {
namespace {

class ScriptedRegistry final : public SerialRegistry {
 public:
  explicit ScriptedRegistry(RegistryQuery answer) : answer_(std::move(answer)) {}
  RegistryQuery querySerialPorts() override { return answer_; }

 private:
  RegistryQuery answer_;
};

SerialPortEntry port(const std::string& path) { return {path.substr(5), path, path, ""}; }

struct SerialWith {
  explicit SerialWith(RegistryQuery answer) : registry(std::move(answer)) {}
  TracedInterpreter traced;
  ScriptedRegistry registry;
  RecordingAlerts alerts;
  Serial serial{alerts, traced.interpreter(), registry};
};

std::string suffix() { return " " + developerContactSuffix(); }

TEST(SerialDiscovery, lists_dial_in_paths_in_registry_order_without_alerts) {
  SerialWith s(RegistryQuery{RegistryFailure::kNone, 0,
                             {port("/dev/ttyUSB1"), {"ttyX", "", "", ""}, port("/dev/ttyACM0"),
                              port("/dev/ttyUSB1")}});
  EXPECT_EQ(s.serial.getArrayOfSerialPorts(),
            (std::vector<std::string>{"/dev/ttyUSB1", "", "/dev/ttyACM0", "/dev/ttyUSB1"}));
  EXPECT_TRUE(s.alerts.shown.empty());
}

TEST(SerialDiscovery, a_registry_with_no_ports_gives_an_empty_list) {
  SerialWith s(RegistryQuery{});
  SerialIterator iterator;
  EXPECT_EQ(s.serial.getSerialIterator(iterator), 0);
  EXPECT_EQ(iterator.next(), nullptr);
  EXPECT_TRUE(s.serial.getArrayOfSerialPorts().empty());
  EXPECT_TRUE(s.alerts.shown.empty());
}

struct FailureCase {
  const char* name;
  RegistryFailure failure;
  int status;
  const char* alert;       // from the registry probe
  const char* diagnostic;  // from the quiet query, on standard output
};

class SerialDiscoveryFailures : public testing::TestWithParam<FailureCase> {};

TEST_P(SerialDiscoveryFailures, are_reported_in_the_systems_words) {
  const FailureCase& c = GetParam();
  SerialWith s(RegistryQuery{c.failure, c.status, {port("/dev/ttyS9")}});
  SerialIterator iterator;
  EXPECT_EQ(s.serial.getSerialIterator(iterator), c.status);
  EXPECT_EQ(iterator.next(), nullptr) << "a failed query yields no ports";

  testing::internal::CaptureStdout();
  std::vector<std::string> list = s.serial.getArrayOfSerialPorts();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), c.diagnostic);
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(s.alerts.shown,
            (std::vector<std::string>{
                std::string("Internal Error: ") + c.alert + suffix(),
                "Internal Error: createSerialIterator failed." + suffix()}));
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, SerialDiscoveryFailures,
    testing::Values(
        FailureCase{"registry", RegistryFailure::kRegistry, 12, "IOMasterPort returned 12.",
                    "IOMasterPort returned 12\n"},
        FailureCase{"matching", RegistryFailure::kMatching, -1,
                    "IOServiceMatching returned a NULL dictionary.",
                    "IOServiceMatching returned NULL\n"},
        FailureCase{"matching_services", RegistryFailure::kMatchingServices, -2,
                    "IOServiceGetMatchingServices returned -2.",
                    "IOServiceGetMatchingServices returned -2\n"}),
    [](const testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

TEST(SerialDiscovery, first_call_out_path_that_fits) {
  SerialWith s(RegistryQuery{RegistryFailure::kNone, 0,
                             {{"a", "", "", ""}, port("/dev/ttyUSB10"), port("/dev/ttyS1")}});
  char path[12];
  std::memset(path, 'x', sizeof path);
  SerialIterator iterator;
  ASSERT_EQ(s.serial.getSerialIterator(iterator), 0);
  // "/dev/ttyUSB10" needs 14 bytes with its zero: the next entry is taken.
  EXPECT_EQ(s.serial.getSerialPathWithIterator(iterator, path, sizeof path), 0);
  EXPECT_STREQ(path, "/dev/ttyS1");

  SerialIterator tooSmall;
  ASSERT_EQ(s.serial.getSerialIterator(tooSmall), 0);
  EXPECT_EQ(s.serial.getSerialPathWithIterator(tooSmall, path, 5), 5);
  EXPECT_STREQ(path, "");

  SerialIterator exhausted;
  std::strcpy(path, "stale");
  EXPECT_EQ(s.serial.getSerialPathWithIterator(exhausted, path, sizeof path), 5);
  EXPECT_STREQ(path, "");
}

TEST(FriendlySerialPath, removes_the_device_directory_prefixes) {
  struct {
    const char* path;
    const char* shown;
  } cases[] = {
      {"/dev/tty.usbserial", "usbserial"},
      {"/dev/cu.modem", "modem"},
      {"/dev/null", "/dev/null"},
      {"", ""},
      {"/dev/TTY.x", "/dev/TTY.x"},
      {"/dev/tty.cu.x", "cu.x"},
      {"/dev/cu./dev/tty.a", "a"},
      {"a/dev/tty.b", "ab"},
      {"/dev/t/dev/tty.ty.x", "/dev/tty.x"},
      {"/dev/tty./dev/tty.x", "x"},
      {"/dev/ttyUSB0", "/dev/ttyUSB0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Serial::friendlySerialPath(c.path), c.shown) << c.path;
  }
}

// This machine's own ports, through udev: whatever is listed can be opened by path.
TEST(SerialDiscovery, every_port_udev_lists_is_a_character_device) {
  UdevSerialRegistry registry;
  RegistryQuery query = registry.querySerialPorts();
  ASSERT_EQ(query.failure, RegistryFailure::kNone) << query.status;
  for (const SerialPortEntry& entry : query.ports) {
    struct stat node {};
    ASSERT_EQ(stat(entry.dialinDevice.c_str(), &node), 0) << entry.dialinDevice;
    EXPECT_TRUE(S_ISCHR(node.st_mode)) << entry.dialinDevice;
    EXPECT_EQ(entry.calloutDevice, entry.dialinDevice);
    EXPECT_EQ("/dev/" + entry.ttyDevice, entry.dialinDevice);
    EXPECT_FALSE(entry.ttyDevice.starts_with("pts")) << "pseudo-terminals are no ports";
  }
}

}  // namespace
}  // namespace quillmote::test
