#include "app/settings.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

#include "catalogue/string_functions.h"

namespace velloran {

namespace {

double Number(const std::string& value) {
  const double n = LeadingNumber(value);
  return std::isfinite(n) ? n : 0.0;
}
bool Flag(const std::string& value) { return Number(value) != 0.0; }
// A single-precision value from the file; values beyond a single's range are no number at all.
bool Single(const std::string& value, float& out) {
  const double n = LeadingNumber(value);
  if (!std::isfinite(n) || std::fabs(n) > 3.4e38) return false;
  out = static_cast<float>(n);
  return true;
}

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// The database entry and display record the lines of a group attach to.
struct Reader {
  Settings& s;
  size_t entry = 0;  // the entry last appended (0 before any "Database=" line)
  int d = -1;        // the display record; -1 before the first "List Font Name=" line

  DisplaySettings* Display() { return d < 0 ? nullptr : &s.Display[static_cast<size_t>(d)]; }

  bool DatabaseKey(const std::string& key, const std::string& value) {
    DatabaseEntry& e = s.Databases.entries[entry];
    if (key == "database") {
      s.Databases.entries.push_back(DatabaseEntry{value, "", "", "", "", ""});
      entry = s.Databases.entries.size() - 1;
    } else if (key == "table") {
      e.Table = value;
    } else if (key == "songnumberfield") {
      e.SongNumberField = value;
    } else if (key == "songfield") {
      e.SongField = value;
    } else if (key == "artistfield") {
      e.ArtistField = value;
    } else if (key == "diskidfield") {
      e.DiskIDField = value;
    } else if (key == "currentdb") {
      const double n = Number(value);
      // Out of the 16-bit range counts as beyond the list; the clamp after reading handles it.
      s.Databases.CurrentDB = n >= -32768.0 && n <= 32767.0 ? static_cast<int16_t>(RoundToEven(n)) : int16_t{-1};
    } else {
      return false;
    }
    return true;
  }

  bool DisplayKey(const std::string& key, const std::string& value) {
    if (key == "list font name") {
      ++d;
      if (s.Display.size() < static_cast<size_t>(d) + 1) s.Display.resize(static_cast<size_t>(d) + 1);
      Display()->ListFont.Name = value;
      return true;
    }
    static const char* const kDisplayKeys[] = {"list font size", "title font size", "list font bold", "list font italic",
                                               "title font bold", "title font italic", "title font name",
                                               "column order", "column width"};
    bool known = false;
    for (const char* k : kDisplayKeys) known = known || key == k;
    if (!known) return false;
    DisplaySettings* r = Display();
    if (r == nullptr) return true;  // no group yet: nothing to attach the line to
    if (key == "list font size") r->ListFont.Size = RoundToEven(Number(value));
    if (key == "title font size") r->TitleFont.Size = RoundToEven(Number(value));
    if (key == "list font bold") r->ListFont.Bold = Flag(value);
    if (key == "list font italic") r->ListFont.Italic = Flag(value);
    if (key == "title font bold") r->TitleFont.Bold = Flag(value);
    if (key == "title font italic") r->TitleFont.Italic = Flag(value);
    if (key == "title font name") r->TitleFont.Name = value;
    if (key == "column order") r->ColumnOrder = FixedColumnOrder(value);
    if (key == "column width") {
      std::string rest = value;
      const double index = Number(NextToken(rest, ","));
      float width = 0;
      if (index > -0.5 && index < 4.5 && Single(rest, width)) r->ColumnWidth[static_cast<size_t>(RoundToEven(index))] = width;
    }
    return true;
  }

  bool PlacementKey(const std::string& key, const std::string& value) {
    static const struct {
      const char* key;
      WindowLine::Kind kind;
    } kWindow[] = {{"top", WindowLine::kTop}, {"left", WindowLine::kLeft}, {"width", WindowLine::kWidth},
                   {"height", WindowLine::kHeight}};
    for (const auto& w : kWindow) {
      if (key != w.key) continue;
      float v = 0;
      if (Single(value, v)) s.WindowLines.push_back(WindowLine{w.kind, v});
      return true;
    }
    struct Other {
      const char* key;
      float* field;
    };
    const Other kOther[] = {
        {"singerwindowtop", &s.SingerWindow.Top},         {"singerwindowleft", &s.SingerWindow.Left},
        {"singerwindowwidth", &s.SingerWindow.Width},     {"singerwindowheight", &s.SingerWindow.Height},
        {"nextsingerwindowtop", &s.NextSingerWindow.Top}, {"nextsingerwindowleft", &s.NextSingerWindow.Left},
        {"nextsingerwindowwidth", &s.NextSingerWindow.Width},
        {"nextsingerwindowheight", &s.NextSingerWindow.Height},
    };
    for (const Other& o : kOther) {
      if (key != o.key) continue;
      Single(value, *o.field);
      return true;
    }
    return false;
  }

  void Line(const std::string& key, const std::string& value) {
    if (DatabaseKey(key, value) || DisplayKey(key, value) || PlacementKey(key, value)) return;
    if (key == "title") s.TitleText = value;
    if (key == "screensaver") s.ScreenSaver = Flag(value);
    if (key == "allowcolumnresizing") s.AllowColumnResizing = Flag(value);
    if (key == "allowwindowresizing") {
      s.AllowWindowResizing = Flag(value);
      s.WindowLines.push_back(WindowLine{WindowLine::kAllowWindowResizing, s.AllowWindowResizing ? 1.0f : 0.0f});
    }
    if (key == "nextsingerwindowfontname") s.NextSingerFont.Name = value;
    if (key == "nextsingerwindowfontsize") s.NextSingerFont.Size = RoundToEven(Number(value));
    if (key == "nextsingerwindowfontbold") s.NextSingerFont.Bold = Flag(value);
    if (key == "nextsingerwindowfontitalic") s.NextSingerFont.Italic = Flag(value);
    if (key == "requestsenabled") s.RequestsEnabled = Flag(value);
    if (key == "requestsjoinatonce") s.RequestsJoinAtOnce = Flag(value);
    if (key == "requestsport") {
      // A port outside 1..65535 keeps the one before it.
      const double port = Number(value);
      if (port >= 1 && port <= 65535) s.RequestsPort = static_cast<int32_t>(port);
    }
    if (key == "requestscode") {
      std::string code = value;
      while (!code.empty() && code.back() == ' ') code.pop_back();
      const bool digits = code.size() == 4 && code.find_first_not_of("0123456789") == std::string::npos;
      s.RequestsCode = digits ? code : "";
    }
  }
};

std::string BoolText(bool value) { return value ? "-1" : "0"; }

void AppendFont(std::string& out, const char* prefix, const FontSpec& font) {
  const std::string p = prefix;
  out += p + " Font Name=" + font.Name + "\r\n";
  out += p + " Font Size=" + std::to_string(font.Size) + "\r\n";
  out += p + " Font Bold=" + BoolText(font.Bold) + "\r\n";
  out += p + " Font Italic=" + BoolText(font.Italic) + "\r\n";
}

// Windows-1252 characters 0x80..0x9F as Unicode; 0 where the code page has none.
constexpr char16_t kCp1252High[32] = {0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
                                      0x2039, 0x0152, 0, 0x017D, 0, 0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
                                      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178};

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool ValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const size_t more = c < 0x80 ? 0 : (c >= 0xC2 && c <= 0xDF) ? 1 : (c >= 0xE0 && c <= 0xEF) ? 2 : (c >= 0xF0 && c <= 0xF4) ? 3 : 9;
    if (more == 9 || i + more >= s.size() + (more == 0)) return false;
    for (size_t k = 1; k <= more; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    // No overlong forms, no surrogates, nothing beyond U+10FFFF.
    const unsigned char n = more > 0 ? static_cast<unsigned char>(s[i + 1]) : 0;
    if ((c == 0xE0 && n < 0xA0) || (c == 0xED && n >= 0xA0) || (c == 0xF0 && n < 0x90) || (c == 0xF4 && n >= 0x90))
      return false;
    i += more + 1;
  }
  return true;
}

}  // namespace

Settings DefaultSettings(const FontSpec& window_font) {
  Settings s;
  DisplaySettings& r = s.Display[0];
  r.ColumnWidth = kDesignColumnEdges;
  r.ColumnOrder = "NDSA";
  FontSpec font{window_font.Name, window_font.Size, window_font.Bold, false, window_font.Italic};
  r.ListFont = font;
  r.TitleFont = font;
  return s;
}

void ParseSettings(std::string_view text, Settings& settings) {
  Reader reader{settings};
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    std::string_view line = text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
    at = end == std::string_view::npos ? text.size() : end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    reader.Line(Lower(std::string(line.substr(0, eq))), std::string(line.substr(eq + 1)));
  }
  DatabaseList& list = settings.Databases;
  if (list.CurrentDB > list.count() || list.CurrentDB < 0) list.CurrentDB = 1;
  if (list.CurrentDB > list.count()) list.CurrentDB = 0;
}

std::string FormatSettings(const Settings& s) {
  std::string out;
  out += "[Product Info]\r\nProduct Name=Velloran\r\nVersion=" + AppVersionText() + "\r\n";
  out += "\r\n[Databases]\r\nCurrentDB=" + std::to_string(s.Databases.CurrentDB) + "\r\n";
  for (size_t i = 1; i < s.Databases.entries.size(); ++i) {
    const DatabaseEntry& e = s.Databases.entries[i];
    out += "Database=" + e.Database + "\r\nTable=" + e.Table + "\r\nSongNumberField=" + e.SongNumberField +
           "\r\nDiskIDField=" + e.DiskIDField + "\r\nSongField=" + e.SongField + "\r\nArtistField=" + e.ArtistField +
           "\r\n";
  }
  out += "\r\n[Display]\r\n";
  for (const DisplaySettings& r : s.Display) {
    AppendFont(out, "List", r.ListFont);
    AppendFont(out, "Title", r.TitleFont);
    out += "Column Order=" + FixedColumnOrder(r.ColumnOrder) + "\r\n";
    for (int j = 1; j <= 4; ++j) out += "Column Width=" + std::to_string(j) + "," + SingleText(r.ColumnWidth[j]) + "\r\n";
  }
  out += "\r\n[Singers]\r\n";
  const struct {
    const char* key;
    float value;
  } singers[] = {{"SingerWindowWidth", s.SingerWindow.Width},         {"SingerWindowHeight", s.SingerWindow.Height},
                 {"SingerWindowTop", s.SingerWindow.Top},             {"SingerWindowLeft", s.SingerWindow.Left},
                 {"NextSingerWindowWidth", s.NextSingerWindow.Width}, {"NextSingerWindowHeight", s.NextSingerWindow.Height},
                 {"NextSingerWindowTop", s.NextSingerWindow.Top},     {"NextSingerWindowLeft", s.NextSingerWindow.Left}};
  for (const auto& v : singers) out += std::string(v.key) + "=" + SingleText(v.value) + "\r\n";
  out += "NextSingerWindowFontName=" + s.NextSingerFont.Name + "\r\n";
  out += "NextSingerWindowFontSize=" + std::to_string(s.NextSingerFont.Size) + "\r\n";
  out += "NextSingerWindowFontBold=" + BoolText(s.NextSingerFont.Bold) + "\r\n";
  out += "NextSingerWindowFontItalic=" + BoolText(s.NextSingerFont.Italic) + "\r\n";
  out += "\r\n[Requests]\r\nRequestsEnabled=" + std::string(s.RequestsEnabled ? "1" : "0") + "\r\n";
  out += "RequestsPort=" + std::to_string(s.RequestsPort) + "\r\nRequestsCode=" + s.RequestsCode + "\r\n";
  out += "RequestsJoinAtOnce=" + std::string(s.RequestsJoinAtOnce ? "1" : "0") + "\r\n";
  out += "\r\n[Window]\r\n";
  out += "Always on top=" + BoolText(s.AlwaysOnTop) + "\r\nScreenSaver=" + BoolText(s.ScreenSaver) + "\r\n";
  out += "Top=" + SingleText(s.Window.Top) + "\r\nLeft=" + SingleText(s.Window.Left) + "\r\n";
  out += "Width=" + SingleText(s.Window.Width) + "\r\nHeight=" + SingleText(s.Window.Height) + "\r\n";
  out += "AllowColumnResizing=" + BoolText(s.AllowColumnResizing) + "\r\n";
  out += "AllowWindowResizing=" + BoolText(s.AllowWindowResizing) + "\r\n";
  out += "Title=" + s.TitleText + "\r\n";
  return out;
}

std::string NextToken(std::string& text, const std::string& separators) {
  size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) {
    text.clear();
  } else {
    text = text.substr(first, text.find_last_not_of(' ') - first + 1);
  }
  std::string result;
  for (char c : separators) {
    const size_t at = text.find(c);
    if (at == std::string::npos) {
      result = text;
      text.clear();
    } else {
      result = text.substr(0, at);
      text = text.substr(at + 1);
    }
  }
  return result;
}

std::string IniPath(const std::string& folder, const std::string& executable_base_name) {
  std::string f = folder;
  while (!f.empty() && f.back() == ' ') f.pop_back();
  while (!f.empty() && (f.back() == '\\' || f.back() == '/')) f.pop_back();
  return f + "/" + executable_base_name + ".ini";
}

std::string SettingsFolder(const std::string& executable_folder, const std::string& config_folder,
                           const std::string& forced) {
  if (!forced.empty()) return forced;
  if (!executable_folder.empty() && ::access(executable_folder.c_str(), W_OK) == 0) return executable_folder;
  return config_folder;
}

std::string FormatVersion(int major, int minor, int revision) {
  char buffer[48];
  if (revision < 0) {
    std::snprintf(buffer, sizeof buffer, "%d.%02d", major, minor);
  } else {
    std::snprintf(buffer, sizeof buffer, "%d.%02d.%04d", major, minor, revision);
  }
  return buffer;
}

std::string AppVersionText() { return FormatVersion(kVersionMajor, kVersionMinor, kVersionRevision); }

std::string SingleText(float value) {
  char buffer[64];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  if (ec != std::errc()) return "0";
  std::string text(buffer, end);
  return text == "-0" ? "0" : text;
}

std::string DecodeSettingsText(std::string_view bytes) {
  if (ValidUtf8(bytes)) return std::string(bytes);
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 4);
  for (char ch : bytes) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out += ch;
    } else if (c < 0xA0) {
      const char16_t u = kCp1252High[c - 0x80];
      AppendUtf8(out, u != 0 ? u : c);
    } else {
      AppendUtf8(out, c);
    }
  }
  return out;
}

jet::Result<std::string> ReadSettingsFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (access(path.c_str(), F_OK) != 0) return std::string();
    return jet::Error(jet::ErrorCode::kIo, "cannot read the settings file " + path + ": " + std::strerror(errno) +
                                               "; the program starts with its default settings");
  }
  std::ostringstream text;
  text << in.rdbuf();
  return DecodeSettingsText(text.str());
}

jet::Status WriteFileAtomically(const std::string& path, const std::string& text) {
  const std::string temp = path + ".new";
  auto fail = [&](const std::string& what) {
    const std::string reason = std::strerror(errno);
    ::unlink(temp.c_str());
    return jet::Error(jet::ErrorCode::kIo, what + " " + path + ": " + reason +
                                               "; the previous file is unchanged. Free some disk space or make the "
                                               "folder writable, then try again");
  };
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return fail("cannot create the file beside");
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ::close(fd);
      return fail("cannot write");
    }
    done += static_cast<size_t>(n);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) return fail("cannot finish writing");
  if (::rename(temp.c_str(), path.c_str()) != 0) return fail("cannot replace");
  return jet::Status::Ok();
}

}  // namespace velloran
