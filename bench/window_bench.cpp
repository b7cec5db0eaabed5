// What a host waits for in the main window, drawing included, with the engine's share beside it.
//
// On catalogues of 100,000 and 1,000,000 made-up songs (the demo catalogue's songs, built with
// the engine and kept in FOLDER, default bench-data/ in the build folder), with the real Qt window
// on the offscreen platform:
//   - Enter to drawn list: Enter in the search box for "love" until the list is drawn on the
//     window's image, beside the engine's part (the catalogue's GetSongs alone);
//   - a redraw after Down and after Page Down in the list;
//   - start-up: the program started as a process with the 100,000-song catalogue current, until
//     its window has been shown (the process leaves right after its first shown frame).
// Goals: Enter < 20 ms (100,000) and < 60 ms (1,000,000); a key's redraw < 2 ms; start-up < 300 ms.
//
// usage: window_bench [RUNS [SIZES [FOLDER]]]   (defaults: 15 runs, sizes "100000,1000000")
#include <spawn.h>
#include <sys/wait.h>

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/demo_catalogue.h"
#include "app/qt/program_window.h"
#include "catalogue/search_query.h"
#include "platform/scripted_dialog_host.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

[[noreturn]] void Die(const std::string& why) {
  std::fprintf(stderr, "window_bench: %s\n", why.c_str());
  std::exit(1);
}

double Millis(Clock::time_point since) { return std::chrono::duration<double, std::milli>(Clock::now() - since).count(); }

double Median(int runs, const std::function<void()>& run) {
  run();  // warm
  std::vector<double> ms;
  for (int i = 0; i < runs; ++i) {
    const Clock::time_point start = Clock::now();
    run();
    ms.push_back(Millis(start));
  }
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

std::string Catalogue(const fs::path& folder, int songs) {
  const fs::path path = folder / ("window-songs-" + std::to_string(songs) + ".mdb");
  if (!fs::exists(path)) {
    const Clock::time_point start = Clock::now();
    jet::Status made = velloran::BuildDemoCatalogue(path.string(), songs);
    if (!made.ok()) Die(made.error().message());
    std::printf("  made %s in %.1f s\n", path.c_str(), Millis(start) / 1000);
  }
  return path.string();
}

void WriteSettings(const fs::path& folder, const std::string& database) {
  std::ofstream(folder / "velloran.ini", std::ios::binary)
      << "[Databases]\r\nCurrentDB=1\r\nDatabase=" << database << "\r\nTable=Songs\r\n";
}

void RunSize(int songs, int runs, const fs::path& folder) {
  const std::string db = Catalogue(folder, songs);
  const fs::path settings = folder / ("settings-" + std::to_string(songs));
  fs::create_directories(settings);
  WriteSettings(settings, db);
  velloran::ScriptedDialogHost dialogs;
  velloran::ProgramWindow p(settings.string(), &dialogs);
  p.Start("velloran", "velloran");
  QApplication::processEvents();
  velloran::MainWindowLogic& logic = p.logic;
  auto enter = [&] {
    int16_t esc = 27, enter = 13;
    logic.Form_KeyPress(esc);
    logic.Txt_Search_Change("love");
    logic.Form_KeyPress(enter);
  };
  const double drawn = Median(runs, enter);
  if (logic.form.Results.count() < 2) Die("the search found nothing");
  const velloran::SearchQuery query = velloran::BuildSearchQuery("Songs", "love");
  const double engine = Median(runs, [&] { logic.form.GetSongs(query.sql, query.sort_list); });
  logic.form.SearchVisible = false;
  logic.CurrentRow = 1;
  const double down = Median(runs * 4, [&] {
    if (logic.CurrentRow >= logic.form.Results.count()) logic.CurrentRow = 1;
    logic.Form_KeyDown(velloran::vk::kDown, 0);
  });
  const double page = Median(runs * 4, [&] {
    if (logic.CurrentRow >= logic.form.Results.count() - logic.RowsPerPage) logic.CurrentRow = 1;
    logic.Form_KeyDown(velloran::vk::kNext, 0);
  });
  std::printf("%9d songs  Enter to drawn list %7.2f ms (engine alone %7.2f, %d rows)   Down %5.2f ms   Page Down %5.2f ms\n",
              songs, drawn, engine, logic.form.Results.count(), down, page);
  if (!dialogs.messages.empty()) Die("the window showed a message: " + dialogs.messages.front());
  p.window.hide();
}

double StartupMillis(const std::string& program, const fs::path& settings, int runs) {
  std::vector<std::string> env_text;
  for (char** e = environ; *e != nullptr; ++e) env_text.push_back(*e);
  env_text.push_back("VELLORAN_SETTINGS_DIR=" + settings.string());
  env_text.push_back("VELLORAN_QUIT_WHEN_SHOWN=1");
  env_text.push_back("QT_QPA_PLATFORM=offscreen");
  std::vector<char*> env;
  for (std::string& e : env_text) env.push_back(e.data());
  env.push_back(nullptr);
  std::string arg0 = program;
  char* argv[] = {arg0.data(), nullptr};
  return Median(runs, [&] {
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, env.data()) != 0) Die("cannot start " + program);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Die(program + " ended with status " + std::to_string(status));
  });
}

fs::path DefaultFolder() {
  std::error_code error;
  const fs::path exe = fs::read_symlink("/proc/self/exe", error);
  if (error) return fs::temp_directory_path() / "velloran-bench-data";
  return exe.parent_path().parent_path() / "bench-data";
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IOLBF, 0);  // each figure as soon as it is measured
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  const int runs = argc > 1 ? std::atoi(argv[1]) : 15;
  std::vector<int> sizes = {100000, 1000000};
  if (argc > 2) {
    sizes.clear();
    std::string list = argv[2];
    for (size_t at = 0; at < list.size();) {
      size_t comma = list.find(',', at);
      if (comma == std::string::npos) comma = list.size();
      sizes.push_back(std::stoi(list.substr(at, comma - at)));
      at = comma + 1;
    }
  }
  const fs::path folder = argc > 3 ? fs::path(argv[3]) : DefaultFolder();
  if (runs < 1 || sizes.empty()) Die("usage: window_bench [RUNS [SIZES [FOLDER]]]");
  fs::create_directories(folder);
  std::printf("window_bench: catalogues in %s; medians of %d runs\n", folder.c_str(), runs);
  for (int songs : sizes) RunSize(songs, runs, folder);
  const int first = sizes.front();
  const fs::path settings = folder / ("settings-" + std::to_string(first));
  const std::string program = (fs::path(argv[0]).parent_path() / "velloran").string();
  std::printf("start-up to the first shown window (process start to end, %d songs): %.1f ms\n", first,
              StartupMillis(program, settings, std::max(5, runs / 2)));
  return 0;
}
