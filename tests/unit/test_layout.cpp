#include <gtest/gtest.h>

#include "test_files.h"

#include <fstream>
#include <map>
#include <sstream>

#include "mainform/layout.h"

using namespace qv::layout;

namespace {

std::string ShippedLayout() { return qv::test::ReadFileBytes(QV_SOURCE_DIR "/src/resources/layout.json"); }

}  // namespace

TEST(Layout, ShippedLayoutParsesAndKeepsTheBorderVisible) {
  const Form form = Parse(ShippedLayout());
  EXPECT_EQ(form.width, 640);
  EXPECT_EQ(form.height, 368);
  std::map<std::string, const Control*> byName;
  for (const Control& c : form.controls) byName[c.name] = &c;
  ASSERT_EQ(byName.size(), form.controls.size());

  // Top-level panels leave the 1-px border free on the left, right and bottom.
  for (const Control& c : form.controls) {
    if (c.kind != Kind::Panel || !c.parent.empty()) continue;
    EXPECT_EQ(c.left, 1) << c.name;
    EXPECT_EQ(c.left + c.width, form.width - 1) << c.name;
    if (c.name != "pnlSettings") {
      EXPECT_EQ(c.top + c.height, form.height - 1) << c.name;
    }
  }
  // The settings panel starts on the first row below the collapsed window, hidden.
  const Control& settings = *byName.at("pnlSettings");
  EXPECT_EQ(settings.top, form.height);
  EXPECT_FALSE(settings.visible);
  // Only the main view is visible at start.
  EXPECT_FALSE(byName.at("pnlInstallView")->visible);
  EXPECT_FALSE(byName.at("pnlFinishView")->visible);
  EXPECT_FALSE(byName.at("lblOffline")->visible);
  EXPECT_TRUE(byName.at("chkAccept")->checked);
  EXPECT_EQ(byName.at("pbInstProgress")->max, 1000);
  EXPECT_EQ(byName.at("lblDetail")->color.source, Color::Source::SystemGrayText);
  EXPECT_EQ(byName.at("lblOffline")->color.rgb, 0x3E7BFAu);
  EXPECT_EQ(byName.at("imgSlide")->parent, "pnlBanner");
  ASSERT_EQ(form.timers.size(), 2u);
}

TEST(Layout, ScalesToTheNearestPixel) {
  struct Case { int length, dpi, out; };
  const Case cases[] = {
      {368, 96, 368}, {368, 144, 552}, {148, 144, 222}, {640, 120, 800},
      {5, 120, 6},     // 6.25
      {3, 144, 5},     // 4.5 rounds up
      {1, 144, 2},     // 1.5
      {-1, 144, -2},   // symmetric for negative lengths
      {17, 192, 34},
  };
  for (const auto& c : cases) EXPECT_EQ(Scale(c.length, c.dpi), c.out) << c.length << " @ " << c.dpi;
}

TEST(Layout, RejectsFaultyDocuments) {
  const std::string head = R"({"window":{"width":10,"height":10},"controls":[)";
  const char* bad[] = {
      "not json",
      R"({"controls":[]})",
      R"({"name":"a","kind":"label","bounds":[0,0,1,1]},{"name":"a","kind":"label","bounds":[0,0,1,1]}]})",
      R"({"name":"a","kind":"label","parent":"p","bounds":[0,0,1,1]},{"name":"p","kind":"panel","bounds":[0,0,1,1]}]})",
      R"({"name":"l","kind":"label","bounds":[0,0,1,1]},{"name":"a","kind":"label","parent":"l","bounds":[0,0,1,1]}]})",
      R"({"name":"a","kind":"blob","bounds":[0,0,1,1]}]})",
      R"({"name":"a","kind":"label","bounds":[0,0,1]}]})",
      R"({"name":"a","kind":"label","bounds":[0,0,1,1],"color":"#12345"}]})",
      // Numbers beyond int are faults, not wrapped or converted with undefined behaviour.
      R"({"name":"a","kind":"label","bounds":[0,0,1e300,1]}]})",
      R"({"name":"a","kind":"label","bounds":[0,4294967296,1,1]}]})",
      R"({"name":"a","kind":"edit","bounds":[0,0,1,1],"taborder":-2147483649}]})",
      R"({"window":{"width":10,"height":10,"font":{"size":3e9}},"controls":[]})",
  };
  for (const char* b : bad) {
    const std::string doc = std::string(b).rfind("{\"name\"", 0) == 0 ? head + b : b;
    EXPECT_THROW(Parse(doc), std::runtime_error) << doc;
  }
}

TEST(Layout, FitsImagesCentredWithAspectKept) {
  struct Case { int iw, ih, w, h; FitRect out; };
  const Case cases[] = {
      {48, 48, 24, 24, {0, 0, 24, 24}},
      {192, 192, 96, 96, {0, 0, 96, 96}},
      {700, 400, 280, 190, {0, 15, 280, 160}},   // wider: full width, bands above and below
      {400, 700, 280, 190, {85, 0, 109, 190}},   // taller: full height, bands left and right
      {48, 48, 144, 144, {0, 0, 144, 144}},      // enlarged too
      {3, 2, 5, 100, {0, 48, 5, 3}},             // 3.333 rounds to 3
      {2, 1, 5, 100, {0, 49, 5, 2}},             // 2.5 rounds to even: 2
  };
  for (const auto& c : cases) {
    const FitRect r = FitImage(c.iw, c.ih, c.w, c.h);
    EXPECT_EQ(r.x, c.out.x) << c.iw << "x" << c.ih << " in " << c.w << "x" << c.h;
    EXPECT_EQ(r.y, c.out.y) << c.iw << "x" << c.ih << " in " << c.w << "x" << c.h;
    EXPECT_EQ(r.w, c.out.w) << c.iw << "x" << c.ih << " in " << c.w << "x" << c.h;
    EXPECT_EQ(r.h, c.out.h) << c.iw << "x" << c.ih << " in " << c.w << "x" << c.h;
  }
}

TEST(Layout, RunTimeLengthsScaleByThePercentage) {
  struct Case { int length, dpi, out; };
  const Case cases[] = {{16, 96, 16}, {16, 144, 24}, {5, 144, 8} /* 7.5 */, {20, 120, 25}, {3, 144, 5} /* 4.5 */,
                        {5, 110, 6} /* 115 % */};
  for (const auto& c : cases) EXPECT_EQ(ScaleLength(c.length, c.dpi), c.out) << c.length << " @ " << c.dpi;
  EXPECT_EQ(ScalePercent(96), 100);
  EXPECT_EQ(ScalePercent(144), 150);
  EXPECT_EQ(ScalePercent(110), 115);
  // The painted buttons' 13 pt caption.
  EXPECT_EQ(PointsToPixels(13, 96), 17);
  EXPECT_EQ(PointsToPixels(13, 144), 26);
  EXPECT_EQ(PointsToPixels(13, 120), 22);
}

TEST(Layout, SettingsPanelExtendsTheWindowByItsHeightAndOneRow) {
  const Form form = Parse(ShippedLayout());
  const Control* panel = nullptr;
  for (const Control& c : form.controls)
    if (c.name == "pnlSettings") panel = &c;
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(ExtendedClientHeight(Scale(panel->top, 96), Scale(panel->height, 96)), 517);
  EXPECT_EQ(Scale(form.height, 144), 552);
  EXPECT_EQ(ExtendedClientHeight(Scale(panel->top, 144), Scale(panel->height, 144)), 775);
}

TEST(Layout, CapsuleArcsSpanTheBoxWithHalfCircleEnds) {
  const auto even = CapsuleArcs(240, 48, 24);
  const Arc evenWant[] = {{0, 0, 48, 180, 90}, {191, 0, 48, 270, 90}, {191, -1, 48, 0, 90}, {0, -1, 48, 90, 90}};
  const auto odd = CapsuleArcs(240, 47, 23);  // radius = height div 2: d is one short of the height
  const Arc oddWant[] = {{0, 0, 46, 180, 90}, {193, 0, 46, 270, 90}, {193, 0, 46, 0, 90}, {0, 0, 46, 90, 90}};
  for (int i = 0; i < 4; ++i) {
    for (const auto& [got, want] : {std::pair{even[i], evenWant[i]}, std::pair{odd[i], oddWant[i]}}) {
      EXPECT_EQ(got.x, want.x) << i;
      EXPECT_EQ(got.y, want.y) << i;
      EXPECT_EQ(got.d, want.d) << i;
      EXPECT_EQ(got.start, want.start) << i;
      EXPECT_EQ(got.sweep, want.sweep) << i;
    }
  }
}

TEST(Layout, DotHitTestTruncatesTowardZero) {
  struct Case { int x, boxWidth, dot; };
  const Case cases[] = {
      {2, 60, 0},  {0, 60, 0},   {17, 60, 0}, {18, 60, 1}, {58, 60, 3}, {65, 60, 3}, {66, 60, -1},
      {-13, 60, 0},   // 15 px left of the first dot: -15 / 16 truncates to 0
      {-14, 60, -1},  // 16 px left: -1
      {2, 90, 0},     // 144 DPI: x0 = 17, the box reaches 15 px left of the first dot
      {1, 90, -1},  {80, 90, 3}, {81, 90, -1},
  };
  for (const auto& c : cases) EXPECT_EQ(DotAt(c.x, c.boxWidth, 4), c.dot) << "x=" << c.x << " box=" << c.boxWidth;
  EXPECT_EQ(DotOrigin(60, 14, 4).x0, 2);
  EXPECT_EQ(DotOrigin(60, 14, 4).y0, 3);
  EXPECT_EQ(DotOrigin(90, 21, 4).x0, 17);
  EXPECT_EQ(DotOrigin(90, 21, 4).y0, 6);
}

TEST(Layout, BannerAndFinishViewPlaces) {
  // 96 DPI: title at 8, picture area 12,33 614 x 241, dots at 277.
  const BannerPlaces b96 = BannerLayout(638, 295, 22, 14, 96);
  EXPECT_EQ(b96.titleTop, 8);
  EXPECT_EQ(b96.dotsTop, 277);
  EXPECT_EQ(b96.imageLeft, 12);
  EXPECT_EQ(b96.imageTop, 33);
  EXPECT_EQ(b96.imageWidth, 614);
  EXPECT_EQ(b96.imageHeight, 241);
  // 144 DPI, from the scaled banner (957 x 443), title (33) and dots (21).
  const BannerPlaces b144 = BannerLayout(957, 443, 33, 21, 144);
  EXPECT_EQ(b144.titleTop, 12);
  EXPECT_EQ(b144.dotsTop, 416);
  EXPECT_EQ(b144.imageLeft, 18);
  EXPECT_EQ(b144.imageTop, 50);
  EXPECT_EQ(b144.imageWidth, 921);
  EXPECT_EQ(b144.imageHeight, 362);

  // The finish view's offsets are device pixels at every DPI; halves truncate toward zero.
  const FinishPlaces f96 = FinishLayout(638, 96, 96, 640, 30, 240);
  EXPECT_EQ(f96.imageLeft, 271);
  EXPECT_EQ(f96.imageTop, 58);
  EXPECT_EQ(f96.nameLeft, -1);
  EXPECT_EQ(f96.nameTop, 170);
  EXPECT_EQ(f96.buttonLeft, 199);
  EXPECT_EQ(f96.buttonTop, 224);
  const FinishPlaces f144 = FinishLayout(957, 144, 144, 960, 45, 360);
  EXPECT_EQ(f144.imageTop, 58);
  EXPECT_EQ(f144.nameLeft, -1);
  EXPECT_EQ(f144.nameTop, 58 + 144 + 16);
  EXPECT_EQ(f144.buttonTop, 58 + 144 + 16 + 45 + 24);
}

TEST(Layout, AcceptLineFollowsTheMeasuredWidths) {
  const AcceptLine a = LayoutAcceptLine(24, 108, 20, 5, 74, 20);
  EXPECT_EQ(a.checkWidth, 128);
  EXPECT_EQ(a.privacyLeft, 157);
  EXPECT_EQ(a.andLeft, 236);
  EXPECT_EQ(a.licenseLeft, 261);
}

TEST(Layout, BrowseAppendsTheProductFolderUnlessItIsTheLastComponent) {
  struct Case { const char* chosen; const char* out; };
  const Case cases[] = {
      {"C:\\Games\\Quorvel", "C:\\Games\\Quorvel"},
      {"C:\\Games\\QUORVEL", "C:\\Games\\QUORVEL"},
      {"C:\\Games\\Quorvel\\", "C:\\Games\\Quorvel\\"},
      {"C:\\Games", "C:\\Games\\Quorvel"},
      {"C:\\Games\\Quorvel2", "C:\\Games\\Quorvel2\\Quorvel"},
      {"C:\\Games\\MyQuorvel", "C:\\Games\\MyQuorvel\\Quorvel"},
      {"D:\\", "D:\\Quorvel"},
      {"\\\\server\\share\\quorvel", "\\\\server\\share\\quorvel"},
  };
  for (const auto& c : cases) EXPECT_EQ(WithProductFolder(c.chosen, "Quorvel"), c.out) << c.chosen;
}
