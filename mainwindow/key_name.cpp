#include "mainwindow/key_name.h"

namespace velloran {

namespace {

struct Named {
  int16_t code;
  const char* base;
  const char* word;
};

constexpr Named kNames[] = {
    {8, "BACKSPACE", ""},   {9, "TAB", ""},       {13, "ENTER", ""},        {16, "", ""},
    {17, "", ""},           {18, "", ""},         {19, "PAUSE", ""},        {20, "CAPS LOCK", ""},
    {27, "ESCAPE", ""},     {32, "SPACE", ""},    {33, "PGUP", ""},         {34, "PGDN", ""},
    {35, "END", ""},        {36, "HOME", ""},     {37, "LEFT", ""},         {38, "UP", ""},
    {39, "RIGHT", ""},      {40, "DOWN", ""},     {45, "INSERT", ""},       {46, "DELETE", ""},
    {92, "WINDOWS", ""},    {93, "MENU", ""},     {106, "*", "MULTIPLY"},   {107, "+", "PLUS"},
    {109, "-", "MINUS"},    {189, "-", "MINUS"},  {111, "/", "DIVIDE"},     {144, "NUM LOCK", ""},
    {145, "SCROLL LOCK", ""}, {186, ";", ":"},    {187, "=", "EQUALS"},     {188, ",", "<"},
    {190, ".", ">"},        {191, "/", "?"},      {192, "`", "~"},          {219, "[", "{"},
    {220, "\\", "|"},       {221, "]", "}"},      {222, "'", "\""},
};

}  // namespace

std::string GetKeyName(int16_t Shift, int16_t KeyCode, bool UseWordNames) {
  std::string name;
  if (Shift & 1) name += "SHIFT-";
  if (Shift & 2) name += "CTRL-";
  if (Shift & 4) name += "ALT-";
  if (Shift & 8) name += "[8]-";
  if (Shift & 16) name += "[16]-";
  if ((KeyCode >= '0' && KeyCode <= '9') || (KeyCode >= 'A' && KeyCode <= 'Z')) return name + static_cast<char>(KeyCode);
  if (KeyCode >= 96 && KeyCode <= 105) {
    const char digit = static_cast<char>('0' + KeyCode - 96);
    return name + (UseWordNames ? std::string("NUM ") + digit : std::string(1, digit));
  }
  if (KeyCode >= 112 && KeyCode <= 123) return name + "F" + std::to_string(KeyCode - 111);
  for (const Named& n : kNames) {
    if (n.code == KeyCode) return name + (UseWordNames && *n.word ? n.word : n.base);
  }
  return name + "(" + std::to_string(KeyCode) + ")";
}

}  // namespace velloran
