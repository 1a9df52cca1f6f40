// Pictures of the main window and the preferences window as an X server really shows
// them, kept as test artifacts for a person to look at. Also the test program's main:
// the other tests use the offscreen platform, and the pictures are drawn by a second
// run of this program on the xcb platform, since a process keeps its first platform.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QDialogButtonBox>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QImage>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <chrono>

#include "app/controller.h"
#include "app/main_window.h"
#include "app/qt_widgets.h"
#include "support/child_process.h"
#include "support/interpreter_harness.h"
#include "support/recording_alerts.h"
#include "support/xvfb_server.h"

namespace quillmote::test {
namespace {

constexpr const char* kDrawInto = "QUILLMOTE_SCREENSHOT_DIR";
const char* const kPictures[] = {"main_window.png", "preferences.png"};

class TwoPorts final : public SerialRegistry {
 public:
  RegistryQuery querySerialPorts() override {
    return {RegistryFailure::kNone,
            0,
            {{"", "/dev/tty.usbserial", "", ""}, {"", "/dev/ttyUSB0", "", ""}}};
  }
};

int distinctColours(const QImage& image) {
  QSet<QRgb> colours;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) colours.insert(image.pixel(x, y));
  }
  return static_cast<int>(colours.size());
}

// Waits until the server shows `widget` painted, then saves what the server shows.
bool saveAsShown(QWidget& widget, const QString& path) {
  QDeadlineTimer deadline(10000);
  for (;;) {
    if (widget.windowHandle() && widget.windowHandle()->isExposed()) {
      QPixmap shot = widget.screen()->grabWindow(widget.winId());
      if (distinctColours(shot.toImage()) > 2) return shot.save(path, "PNG");
    }
    if (deadline.hasExpired()) {
      qCritical("%s: nothing painted within 10 s", qPrintable(path));
      return false;
    }
    QEventLoop slice;  // lets the expose and paint events in
    QTimer::singleShot(20, &slice, &QEventLoop::quit);
    slice.exec();
  }
}

// The second run: a stopped controller with a stored port, the main window, then the
// preferences window opened the way the File menu opens it.
int drawPictures(const QString& into) {
  QTemporaryDir dir;
  QSettings store(dir.filePath("Quillmote.ini"), QSettings::IniFormat);
  store.setValue("serialPortPath", "/dev/ttyUSB0");
  store.setValue("baudRate", 9600);
  TracedInterpreter traced;
  TwoPorts registry;
  RecordingAlerts alerts;
  MainWindow window;
  PreferencesDialog dialog(store, &window);
  ActionCheckMark running(window.startAction(), [&] { window.showStatus(); });
  ActionCheckMark stopped(window.stopAction(), [&] { window.showStatus(); });
  Controller controller({store, alerts, traced.interpreter(), registry, dialog, running, stopped});
  dialog.onCancel = [&] { controller.prefsCancel(); };
  window.connectController(controller);
  window.show();
  if (!saveAsShown(window, into + "/" + kPictures[0])) return 2;

  bool saved = false;
  QTimer::singleShot(0, &dialog, [&] {
    saved = saveAsShown(dialog, into + "/" + kPictures[1]);
    dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
  });
  controller.openPrefs();
  return saved ? 0 : 3;
}

std::string thisProgram() {
  char path[4096];
  ssize_t size = readlink("/proc/self/exe", path, sizeof path);
  return size > 0 ? std::string(path, static_cast<std::size_t>(size)) : "";
}

TEST(Screenshots, main_window_and_preferences_under_xvfb) {
  XvfbServer xvfb;
  QString into = QUILLMOTE_TEST_ARTIFACTS;
  ASSERT_TRUE(QDir().mkpath(into));
  for (const char* name : kPictures) QFile::remove(into + "/" + name);

  // Qt's D-Bus thread on xcb keeps a libdbus read buffer at exit, and passes data to the
  // main thread through Qt's and glib's own (uninstrumented) synchronisation. The drawing
  // run starts no thread of ours, so the thread sanitizer has nothing of ours to check
  // there, only such false reports; and the leak is not ours either.
  QTemporaryDir scratch;
  QFile leaks(scratch.filePath("lsan.supp"));
  ASSERT_TRUE(leaks.open(QIODevice::WriteOnly) && leaks.write("leak:libdbus-1.so\n") > 0);
  leaks.close();
  ChildProcess run({thisProgram()},
                   {"DISPLAY=" + xvfb.displayName(), "QT_QPA_PLATFORM=xcb",
                    std::string(kDrawInto) + "=" + into.toStdString(),
                    "LSAN_OPTIONS=suppressions=" + leaks.fileName().toStdString(),
                    "TSAN_OPTIONS=report_bugs=0"});
  ASSERT_EQ(run.waitForExit(std::chrono::seconds(60)), "exit 0") << run.errorOutput();
  for (const char* name : kPictures) {
    QString path = into + "/" + name;
    SCOPED_TRACE(path.toStdString());
    EXPECT_GT(QFileInfo(path).size(), 2000);
    QImage picture(path);
    ASSERT_FALSE(picture.isNull());
    EXPECT_GE(picture.width(), 200);
    EXPECT_GE(picture.height(), 100);
    EXPECT_GT(distinctColours(picture), 16) << "hardly anything drawn";
  }
}

}  // namespace
}  // namespace quillmote::test

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsSet(quillmote::test::kDrawInto)) {
    QApplication app(argc, argv);
    return quillmote::test::drawPictures(qEnvironmentVariable(quillmote::test::kDrawInto));
  }
  testing::InitGoogleTest(&argc, argv);
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
