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
  DialogFont d = ToDialogFont(chosen);
  EXPECT_EQ(d.face, "An Extraordinarily Long Font Fa");  // 31 characters
  EXPECT_EQ(d.pixel_height, 16);
  EXPECT_EQ(d.weight, 700);
  EXPECT_TRUE(d.underline);
  EXPECT_EQ(ToDialogFont(FontSpec{"Arial", 8, false, false, false}).pixel_height, 11);  // 10.67
  EXPECT_EQ(ToDialogFont(FontSpec{"Arial", 8, false, false, false}).weight, 400);

  // tenths of a point, weight -> size, bold
  const struct { int tenths, weight, size; bool bold; } back[] = {
      {105, 700, 10, true}, {115, 400, 12, false}, {120, 600, 12, false}, {96, 800, 10, false}};
  for (const auto& b : back) {
    FontSpec got = FromDialogChoice("Arial", b.tenths, b.weight, true, false);
    EXPECT_EQ(got.Size, b.size) << b.tenths;
    EXPECT_EQ(got.Bold, b.bold) << b.weight;
    EXPECT_TRUE(got.Italic);
  }
  EXPECT_EQ(RoundToEven(2.5), 2);
  EXPECT_EQ(RoundToEven(-2.5), -2);
  EXPECT_EQ(RoundToEven(1e300), 2147483647);
}

}  // namespace
}  // namespace velloran
