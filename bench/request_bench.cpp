// How quickly the song request server answers phones searching a 100,000-song catalogue.
//
// The server runs as in the program: one thread, its event loop, the catalogue's own search.
// Fifty phones on another thread each keep a connection open and search for a word of a song
// title or a song number chosen at random, first as people do (a pause of half a second to a
// second and a half between searches), then flat out (the next search as soon as the answer
// is in), and once more pausing but searching for fragments of titles and artists that rarely
// repeat, so nearly every search reads the catalogue: the time from sending a search to holding
// the whole answer, median and 99th percentile, and the searches answered per second. The per-phone allowances are raised for the
// run, since every phone here shares one address.
//
// usage: request_bench [SECONDS [SONGS [FOLDER]]]   (defaults: 10 seconds a phase, 100000 songs)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/demo_catalogue.h"
#include "requests/qt/request_server.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace velloran;

constexpr int kPhones = 50;

[[noreturn]] void Die(const std::string& message) {
  std::fprintf(stderr, "request_bench: %s\n", message.c_str());
  std::exit(1);
}

struct Phase {
  std::vector<double> ms;  // each search's answer time
  std::set<std::string> texts;
  double seconds = 0;
  int failed = 0;
};

struct Phone {
  int fd = -1;
  std::string got;
  Clock::time_point sent, next;
  bool waiting = false;
};

// A song number (one search in four), else the first word of a title or, with `fragments`, three
// to six letters from anywhere in a title or artist: texts that rarely repeat.
std::string SearchText(std::mt19937& random, int songs, bool fragments = false) {
  if (random() % 4 == 0) return std::to_string(1000 + random() % songs);
  const DemoSong song = MakeDemoSong(static_cast<int>(random() % songs));
  const std::string& title = random() % 2 == 0 || !fragments ? song.title : song.artist;
  std::string word = title.substr(0, title.find(' '));
  if (fragments) {
    const size_t length = 3 + random() % 4, from = random() % title.size();
    word = title.substr(from, length);
  }
  std::string encoded;
  for (unsigned char c : word) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%%%02X", c);
    encoded += std::isalnum(c) ? std::string(1, static_cast<char>(c)) : std::string(hex);
  }
  return encoded;
}

// The answer's length when `got` holds a whole one, else 0.
size_t WholeAnswer(const std::string& got) {
  const size_t end = got.find("\r\n\r\n");
  if (end == std::string::npos) return 0;
  const size_t at = got.find("Content-Length: ");
  if (at == std::string::npos || at > end) return 0;
  const size_t length = std::stoul(got.substr(at + 16));
  return got.size() >= end + 4 + length ? end + 4 + length : 0;
}

Phase RunPhones(uint16_t port, int songs, double seconds, bool pauses, bool fragments) {
  std::vector<Phone> phones(kPhones);
  std::mt19937 random(20261206);
  for (Phone& p : phones) {
    p.fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(p.fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) Die("cannot connect to the server");
    int one = 1;
    ::setsockopt(p.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    p.next = Clock::now() + std::chrono::milliseconds(pauses ? random() % 1000 : 0);
  }
  Phase phase;
  const Clock::time_point start = Clock::now();
  const auto stop = start + std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000));
  while (Clock::now() < stop) {
    const Clock::time_point now = Clock::now();
    std::vector<pollfd> fds;
    for (Phone& p : phones) {
      if (!p.waiting && now >= p.next) {
        const std::string text = SearchText(random, songs, fragments);
        phase.texts.insert(text);
        const std::string bytes = "GET /search?q=" + text + " HTTP/1.1\r\nHost: bench\r\n\r\n";
        if (::send(p.fd, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) Die("send failed");
        p.sent = now;
        p.waiting = true;
      }
      fds.push_back(pollfd{p.fd, POLLIN, 0});
    }
    ::poll(fds.data(), fds.size(), 5);
    for (size_t i = 0; i < phones.size(); ++i) {
      if (!(fds[i].revents & POLLIN)) continue;
      Phone& p = phones[i];
      char buffer[65536];
      const ssize_t n = ::recv(p.fd, buffer, sizeof buffer, 0);
      if (n <= 0) Die("the server closed a phone's connection");
      p.got.append(buffer, static_cast<size_t>(n));
      if (const size_t whole = WholeAnswer(p.got); whole > 0) {
        if (p.got.compare(0, 12, "HTTP/1.1 200") != 0) ++phase.failed;
        phase.ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - p.sent).count());
        p.got.erase(0, whole);
        p.waiting = false;
        p.next = Clock::now() + std::chrono::milliseconds(pauses ? 500 + random() % 1000 : 0);
      }
    }
  }
  phase.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  for (Phone& p : phones) ::close(p.fd);
  return phase;
}

void Print(const char* name, Phase phase) {
  std::sort(phase.ms.begin(), phase.ms.end());
  auto at = [&](double q) { return phase.ms.empty() ? 0.0 : phase.ms[static_cast<size_t>(q * (phase.ms.size() - 1))]; };
  std::printf("%-34s %8zu %8zu %10.1f %10.1f %10.1f %12.0f\n", name, phase.ms.size(), phase.texts.size(), at(0.5),
              at(0.99), phase.ms.empty() ? 0 : phase.ms.back(), phase.ms.size() / phase.seconds);
  if (phase.failed > 0) std::printf("  (%d answers were not 200)\n", phase.failed);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const double seconds = argc > 1 ? std::atof(argv[1]) : 10;
  const int songs = argc > 2 ? std::atoi(argv[2]) : 100000;
  const fs::path folder = argc > 3 ? fs::path(argv[3]) : fs::path(QCoreApplication::applicationDirPath().toStdString()).parent_path() / "bench-data";
  fs::create_directories(folder);
  const std::string catalogue = (folder / ("requests-" + std::to_string(songs) + ".mdb")).string();
  if (!fs::exists(catalogue)) {
    std::printf("Building a catalogue of %d songs in %s ...\n", songs, catalogue.c_str());
    if (jet::Status built = BuildDemoCatalogue(catalogue, songs); !built.ok()) Die(built.error().message());
  }

  DatabaseList databases;
  databases.entries.push_back(DatabaseEntry{catalogue, "Songs", "Artist", "Song", "SongNumber", "DiskID"});
  databases.CurrentDB = 1;
  CatalogueSongFinder finder(databases);
  PendingRequests waiting;
  RequestRules rules;
  rules.hits = rules.searches = Rate{1e9, 1e9};  // fifty phones, one address
  RequestService service(finder, waiting, rules);
  ServerLimits limits;
  limits.max_per_address = limits.max_connections = kPhones * 3;
  RequestServer server(service, limits);
  if (jet::Status started = server.Start(0); !started.ok()) Die(started.error().message());
  // The first search checks the catalogue's design; the phones find it checked.
  if (!finder.Search("love", 50).ok()) Die("the catalogue cannot be searched");

  {
    // The search alone, without the network and without kept answers (a finder of its own each
    // time), for texts as the phones choose them.
    std::mt19937 random(7);
    std::vector<double> alone;
    for (int i = 0; i < 40; ++i) {
      const std::string text = QUrl::fromPercentEncoding(QByteArray::fromStdString(SearchText(random, songs))).toStdString();
      const Clock::time_point t = Clock::now();
      CatalogueSongFinder fresh(databases);
      if (!fresh.Search(text, 50).ok()) Die("a search failed");
      alone.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t).count());
    }
    std::sort(alone.begin(), alone.end());
    std::printf("one search alone, nothing kept: median %.1f ms, slowest %.1f ms\n", alone[alone.size() / 2],
                alone.back());
  }
  std::printf("%d phones searching %d songs, %.0f s a phase\n", kPhones, songs, seconds);
  std::printf("(answers are kept until the file changes: \"texts\" counts the different texts, at most that many\n"
              " searches read the catalogue)\n");
  std::printf("%-34s %8s %8s %10s %10s %10s %12s\n", "phase", "searches", "texts", "median ms", "p99 ms", "max ms",
              "searches/s");
  std::thread phones([&] {
    Print("phones pausing 0.5-1.5 s", RunPhones(server.port(), songs, seconds, true, false));
    Print("phones flat out", RunPhones(server.port(), songs, seconds, false, false));
    Print("pausing, texts that rarely repeat", RunPhones(server.port(), songs, seconds, true, true));
    QMetaObject::invokeMethod(&app, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
  });
  app.exec();
  phones.join();
  return 0;
}
