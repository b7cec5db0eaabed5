// The program: the main window on the desktop, its settings beside the executable (or in the
// user's configuration folder where that cannot be written), and with --demo a demo catalogue.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "admin/folder_import.h"
#include "app/demo_catalogue.h"
#include "app/qt/program_window.h"
#include "jet/sql/kept_texts.h"
#include "print/qt/book_command.h"

namespace {

constexpr const char* kNoDisplay =
    "velloran needs a desktop session, and none could be reached (DISPLAY or WAYLAND_DISPLAY); "
    "to run it without one, use a virtual display: xvfb-run -a ./run.sh";

bool MayHaveDisplay() {
  for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

// Qt ends the process when it cannot reach the display; say what to do in one line instead.
void QuietDisplayFailure(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtFatalMsg) {
    if (message.contains("platform plugin") || message.contains("connect to display")) {
      std::fprintf(stderr, "%s\n", kNoDisplay);
    } else {
      std::fprintf(stderr, "velloran: %s\n", qPrintable(message));
    }
    std::_Exit(2);
  }
  if (type == QtCriticalMsg) std::fprintf(stderr, "velloran: %s\n", qPrintable(message));
}

// VELLORAN_SETTINGS_DIR, for tests and portable installs, overrides where the settings live.
std::string SettingsFolder() {
  const char* forced = std::getenv("VELLORAN_SETTINGS_DIR");
  const std::string folder = velloran::SettingsFolder(
      QCoreApplication::applicationDirPath().toStdString(),
      QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation).toStdString(), forced ? forced : "");
  QDir().mkpath(QString::fromStdString(folder));
  return folder;
}

// The demo catalogue in the user's data folder, built the first time.
std::string DemoCatalogue() {
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
  QDir().mkpath(folder);
  const std::string path = (folder + "/demo-songs.mdb").toStdString();
  if (QFileInfo::exists(QString::fromStdString(path))) return path;
  std::cout << "Building a demo catalogue of 5,000 songs in " << path << " ..." << std::endl;
  jet::Status built = velloran::BuildDemoCatalogue(path, 5000);
  if (!built.ok()) {
    std::cerr << "velloran: " << built.error().message() << "; starting without it" << std::endl;
    return std::string();
  }
  return path;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::string(argv[1]) == "book") {
    // No window: fonts and the PDF need no display.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    return velloran::RunBookCommand(std::vector<std::string>(argv + 2, argv + argc), std::cout, std::cerr);
  }
  // The folder import from the command line needs no desktop.
  if (argc >= 2 && std::string(argv[1]) == "import")
    return velloran::RunImportCommand(std::vector<std::string>(argv + 2, argv + argc), std::cout, std::cerr);
  std::string command_line;
  bool demo = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--demo") demo = true;
    if (arg == "--help") {
      std::cout << "velloran [--demo] [/title NAME]\n"
                   "velloran book FILE TABLE OUT.pdf [--by song|artist] [--font NAME:SIZE]\n"
                   "velloran import FILE TABLE FOLDER [--disk-id TEXT] [--artist TEXT] [--rename] [--pattern PATTERN] "
                   "[--subfolders]\n"
                   "  --demo       open a demo catalogue of 5,000 songs (built the first time)\n"
                   "  /title NAME  the name the window shows for the program\n"
                   "  book         writes the song book of FILE's flagged songs as a PDF\n";
      return 0;
    }
    command_line += (i > 1 ? " " : "") + arg;
  }
  if (!MayHaveDisplay()) {
    std::fprintf(stderr, "%s\n", kNoDisplay);
    return 2;
  }
  qInstallMessageHandler(QuietDisplayFailure);
  QApplication app(argc, argv);
  QApplication::setApplicationName("velloran");
  // The searchable texts of a catalogue and their orders, kept between runs, so that the first
  // search after the program starts does not fold and sort every song again.
  const QString cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
  if (!cache.isEmpty()) jet::SetKeptTextsFolder((cache + "/search").toStdString());
  const std::string executable = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName().toStdString();
  const std::string demo_path = demo ? DemoCatalogue() : std::string();

  velloran::ProgramWindow program(SettingsFolder());
  program.Start(executable, command_line, demo_path);
  // For the start-up benchmark: leave as soon as the first frame is shown.
  if (std::getenv("VELLORAN_QUIT_WHEN_SHOWN") != nullptr) QTimer::singleShot(0, &app, &QCoreApplication::quit);
  return app.exec();
}
