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
