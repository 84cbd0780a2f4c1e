// tamber-gui [--config FILE] [LIBRARY]: the desktop program.
//
// Start-up, in this order: the command line, the settings, the language,
// the single instance (a second start hands its library to the first and
// ends), the splash, the recent list, the main window, then the library
// named on the command line, else "DefaultLib", else the default library.

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QLinearGradient>
#include <QMessageBox>
#include <QPainter>
#include <QSplashScreen>
#include <QTimer>
#include <cstdio>
#include <string>

#include "app/app.h"
#include "gui/gui_text.h"
#include "gui/main_window.h"
#include "gui/single_instance.h"
#include "report/report.h"
#include "search/name_index.h"

namespace {

QPixmap splashPicture(qreal ratio) {
  QPixmap p(QSize(420, 220) * ratio);
  p.setDevicePixelRatio(ratio);
  QPainter g(&p);
  QLinearGradient fill(0, 0, 420, 220);
  fill.setColorAt(0, QColor(32, 58, 96));
  fill.setColorAt(1, QColor(18, 110, 130));
  g.fillRect(QRect(0, 0, 420, 220), fill);
  g.setRenderHint(QPainter::Antialiasing);
  g.setPen(QPen(QColor(255, 255, 255, 90), 10));
  g.drawEllipse(QPoint(330, 110), 70, 70);
  g.drawEllipse(QPoint(330, 110), 18, 18);
  g.setPen(Qt::white);
  QFont f = g.font();
  f.setPointSize(30);
  f.setBold(true);
  g.setFont(f);
  g.drawText(QRect(28, 60, 300, 60), Qt::AlignLeft | Qt::AlignVCenter, "Tamber+");
  f.setPointSize(11);
  f.setBold(false);
  g.setFont(f);
  g.drawText(QRect(30, 120, 300, 30), Qt::AlignLeft, "discs and folders, catalogued");
  return p;
}

}  // namespace

int main(int argc, char** argv) {
  // Every save keeps the search's name index in step with the listings.
  tamber::search::installNameIndex();
  // Help and version need no display.
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::printf("Usage: tamber-gui [--config FILE] [--drive sim:FILE] [LIBRARY]\n"
                  "Opens LIBRARY (default: the DefaultLib setting, else the default library).\n"
                  "--drive sim:FILE offers a simulated drive (a disc described in FILE) in the add-disc dialog.\n");
      return 0;
    }
    if (a == "--version") {
      std::printf("tamber-gui 0.1.0\n");
      return 0;
    }
  }
  // Sound is played through Qt's FFmpeg back end, which needs no GStreamer
  // plugins installed; the environment may choose another.
  if (qEnvironmentVariableIsEmpty("QT_MEDIA_BACKEND")) qputenv("QT_MEDIA_BACKEND", "ffmpeg");
  QApplication qapp(argc, argv);
  QApplication::setApplicationName("Tamber+");
  QApplication::setApplicationVersion("0.1.0");
  QApplication::setDesktopFileName("tamber-gui");
  QIcon icon;
  for (int size : {16, 32, 48, 64, 128, 256}) icon.addFile(QString(":/icons/tamber-%1.png").arg(size));
  QApplication::setWindowIcon(icon);

  // 1. The command line: arguments starting with "-" are options, a plain
  // one names the library.
  QString library, config, drive;
  QStringList args = QApplication::arguments();
  for (int i = 1; i < args.size(); ++i) {
    const QString& a = args[i];
    if (a == "--config" && i + 1 < args.size()) {
      config = args[++i];
    } else if (a.startsWith("--config=")) {
      config = a.mid(9);
    } else if (a == "--drive" && i + 1 < args.size()) {
      drive = args[++i];
    } else if (a.startsWith("--drive=")) {
      drive = a.mid(8);
    } else if (a.startsWith("-")) {
      std::fprintf(stderr, "tamber-gui: unknown option '%s'; see --help\n", a.toLocal8Bit().constData());
      return 2;
    } else {
      library = QFileInfo(a).absoluteFilePath();
    }
  }

  // 2-3. Settings and language.
  tamber::app::App app;
  if (tamber::Status st = app.start({tamber::gui::ss(config)}); !st) {
    QMessageBox::critical(nullptr, "Tamber+", tamber::gui::qs(st.message()));
    return 1;
  }
  if (!app.settings().warning().empty()) {
    std::fprintf(stderr, "tamber-gui: warning: %s\n", app.settings().warning().c_str());
  }

  // 4. One instance per user and settings file.
  tamber::gui::SingleInstance instance(tamber::gui::qs(app.settings().path().string()));
  if (!instance.claim(library)) return 0;

  // 5. The splash, while the window and the library are made ready.
  QSplashScreen splash(splashPicture(qapp.devicePixelRatio()));
  if (QGuiApplication::platformName() != "offscreen") splash.show();
  qapp.processEvents();

  // 6-7. The main window (it reads the recent list), then the library.
  tamber::gui::MainWindow window(app);
  window.setSimulatedDrive(drive);
  QObject::connect(&instance, &tamber::gui::SingleInstance::activated, &window, &tamber::gui::MainWindow::handOver);
  window.show();
  // The report resources are checked once, at start: a missing one is
  // named now rather than as "Invalid xsl file!" at the first report.
  auto missing = tamber::report::missingReportResources();
  if (!missing.empty()) {
    std::string names;
    for (const auto& m : missing) names += (names.empty() ? "" : ", ") + m;
    std::string t = app.text(tamber::app::kTextResourcesMissing);
    if (auto at = t.find("%s"); at != std::string::npos) t.replace(at, 2, tamber::report::reportResourceDirectory().string());
    if (auto at = t.find("%s"); at != std::string::npos) t.replace(at, 2, names);
    std::fprintf(stderr, "tamber-gui: %s\n", t.c_str());
    if (QGuiApplication::platformName() != "offscreen") QMessageBox::warning(&window, "Tamber+", tamber::gui::qs(t));
  }
  window.openLibrary(library);
  splash.finish(&window);
  QObject::connect(&qapp, &QApplication::aboutToQuit, &window, [&] { window.shutdown(); });
  return qapp.exec();
}
