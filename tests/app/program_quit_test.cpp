// The real desktop program: SIGTERM and SIGINT quit it through the normal quit, which
// stops translation and records whether it was running, and it then lets up every key.
#include <gtest/gtest.h>
#include <signal.h>

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <chrono>
#include <string>

#include "support/child_process.h"
#include "support/interpreter_harness.h"
#include "support/pseudo_terminal.h"

namespace quillmote::test {
namespace {

using namespace std::chrono_literals;

TEST(ProgramQuit, a_signal_stops_translation_records_it_and_lets_keys_up) {
  for (int stopSignal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(strsignal(stopSignal));
    QTemporaryDir config;
    PseudoTerminal line;
    {
      QSettings store(config.filePath("Quillmote/Quillmote.conf"), QSettings::IniFormat);
      store.setValue("serialPortPath", QString::fromStdString(line.portPath()));
      store.setValue("baudRate", 9600);
      store.setValue("wasRunningOnQuit", true);  // so the launch starts translation
    }
    QTemporaryDir output;
    QString tracePath = output.filePath("trace");
    ChildProcess program({"/bin/sh", "-c", std::string("exec \"$0\" > \"$1\""), QUILLMOTE_PROGRAM,
                          tracePath.toStdString()},
                         {"XDG_CONFIG_HOME=" + config.path().toStdString(),
                          "QT_QPA_PLATFORM=offscreen", "QUILLMOTE_BACKEND=trace"});

    // Translation runs once a zero byte is answered; then shift is locked.
    line.send(bytes("{NUL}"));
    ASSERT_EQ(line.waitForDeviceBytes(1, 10s), "\x11") << program.errorOutput();
    line.send(bytes("{ESC},lock,shift.{NUL}"));
    ASSERT_EQ(line.waitForDeviceBytes(1, 5s), "\x11");

    ASSERT_TRUE(program.sendSignal(stopSignal));
    EXPECT_EQ(program.waitForExit(10s), "exit 0") << program.errorOutput();

    QSettings after(config.filePath("Quillmote/Quillmote.conf"), QSettings::IniFormat);
    EXPECT_TRUE(after.value("wasRunningOnQuit").toBool());
    QFile trace(tracePath);
    ASSERT_TRUE(trace.open(QIODevice::ReadOnly));
    EXPECT_EQ(withoutComments(trace.readAll().toStdString()), "key 56 down\nkey 56 up\n");
  }
}

}  // namespace
}  // namespace quillmote::test
