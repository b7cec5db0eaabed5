// The rules the dialog layer applies around the desktop's dialogs: filters, and fonts to the font
// dialog and back.
#include <gtest/gtest.h>

#include "platform/dialog_host.h"
#include "platform/font_spec.h"

namespace velloran {
namespace {

TEST(DesktopFilter, PairsBecomeDescriptionsWithTheirPatterns) {
  EXPECT_EQ(DesktopFilter("Singer Files|*.sng|All files|*.*"), "Singer Files (*.sng);;All files (*.*)");
  EXPECT_EQ(DesktopFilter("Songs|*.mp3;*.cdg"), "Songs (*.mp3 *.cdg)");
  EXPECT_EQ(DesktopFilter("Databases (*.mdb)|*.mdb"), "Databases (*.mdb)");
  EXPECT_EQ(DesktopFilter("*.sng"), "");  // a lone pattern names nothing to choose
}

TEST(FontSpec, ToTheDialogAndBack) {
  FontSpec chosen{"An Extraordinarily Long Font Face Name", 12, true, true, false};
  const DialogFont d = ToDialogFont(chosen);  // the face cut to 31 characters
  EXPECT_EQ(std::tuple(d.face, d.pixel_height, d.weight, d.underline), std::tuple("An Extraordinarily Long Font Fa", 16, 700, true));
  const DialogFont arial = ToDialogFont(FontSpec{"Arial", 8, false, false, false});
  EXPECT_EQ(std::pair(arial.pixel_height, arial.weight), std::pair(11, 400));  // 10.67 pixels

  // tenths of a point, weight -> size, bold
  const struct { int tenths, weight, size; bool bold; } back[] = {
      {105, 700, 10, true}, {115, 400, 12, false}, {120, 600, 12, false}, {96, 800, 10, false}};
  for (const auto& b : back) {
    const FontSpec got = FromDialogChoice("Arial", b.tenths, b.weight, true, false);
    EXPECT_EQ(std::tuple(got.Size, got.Bold, got.Italic), std::tuple(b.size, b.bold, true)) << b.tenths << " at weight " << b.weight;
  }
  EXPECT_EQ(std::vector({RoundToEven(2.5), RoundToEven(-2.5), RoundToEven(1e300)}), std::vector({2, -2, 2147483647}));
}

}  // namespace
}  // namespace velloran
