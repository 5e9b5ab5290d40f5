// GDI+ as a scope, pictures decoded from memory (a broken one fails and
// says so), and the font families the dialogs and controls name, which the
// test prefix must provide.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "classlib/GdiPlus.h"

namespace {

// A 2 x 1 PNG: one opaque red pixel, one half-transparent blue one.
const unsigned char kTinyPng[] = {
    0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44,
    0x52, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06, 0x00, 0x00, 0x00, 0xF4,
    0x22, 0x7F, 0x8A, 0x00, 0x00, 0x00, 0x0E, 0x49, 0x44, 0x41, 0x54, 0x78, 0xDA, 0x63, 0xF8,
    0xCF, 0xC0, 0x00, 0x42, 0x0D, 0x00, 0x0F, 0x7A, 0x03, 0x7E, 0x6A, 0x81, 0x31, 0xE1, 0x00,
    0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};

class GdiPlus : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(gdiplus.Start(), Gdiplus::Ok); }
  cl::GdiplusSession gdiplus;
};

TEST(GdiplusSession, StartAndShutdownAreSafeToRepeat) {
  cl::GdiplusSession s;
  s.Shutdown();  // never started: nothing
  EXPECT_FALSE(s.started());
  EXPECT_EQ(s.Start(), Gdiplus::Ok);
  ULONG_PTR token = s.token();
  EXPECT_EQ(s.Start(), Gdiplus::Ok);
  EXPECT_EQ(s.token(), token) << "a second start keeps the first";
  s.Shutdown();
  s.Shutdown();
  EXPECT_FALSE(s.started());
}

TEST_F(GdiPlus, DecodesAPictureAndFailsOnABrokenOne) {
  Gdiplus::Status st = Gdiplus::GenericError;
  auto bmp = cl::DecodePicture(kTinyPng, sizeof(kTinyPng), &st);
  ASSERT_NE(bmp, nullptr);
  EXPECT_EQ(st, Gdiplus::Ok);
  EXPECT_EQ(bmp->GetWidth(), 2u);
  EXPECT_EQ(bmp->GetHeight(), 1u);
  Gdiplus::Color c;
  bmp->GetPixel(0, 0, &c);
  EXPECT_EQ(c.GetValue(), 0xFFFF0000u);
  bmp->GetPixel(1, 0, &c);
  EXPECT_EQ(c.GetValue(), 0x800000FFu);

  struct Case {
    const char* what;
    size_t size;
  } broken[] = {{"truncated in the data", sizeof(kTinyPng) - 20},
                {"header only", 8},
                {"empty", 0}};
  for (const Case& b : broken) {
    st = Gdiplus::Ok;
    EXPECT_EQ(cl::DecodePicture(kTinyPng, b.size, &st), nullptr) << b.what;
    EXPECT_NE(st, Gdiplus::Ok) << b.what;
  }
  std::vector<unsigned char> garbage(sizeof(kTinyPng), 0x5A);
  EXPECT_EQ(cl::DecodePicture(garbage.data(), garbage.size(), &st), nullptr);
  EXPECT_NE(st, Gdiplus::Ok);
}

TEST_F(GdiPlus, MissingResourceIsReported) {
  Gdiplus::Status st = Gdiplus::Ok;
  EXPECT_EQ(cl::LoadPngResource(4242, nullptr, &st), nullptr);
  EXPECT_EQ(st, Gdiplus::InvalidParameter);
}

// The faces the dialogs and the control kit ask GDI+ for. Without them
// DrawString draws nothing (status 14): the test prefix installs them
// (scripts/lib.sh, prepare_wine_prefix).
TEST_F(GdiPlus, FontFamiliesTheUserInterfaceNamesExist) {
  for (const char* face : {"Arial", "Tahoma", "MS Shell Dlg", "MS Shell Dlg 2", "Calibri"}) {
    std::wstring wface(face, face + strlen(face));
    Gdiplus::FontFamily family(wface.c_str());
    EXPECT_EQ(family.GetLastStatus(), Gdiplus::Ok) << face << " (see prepare_wine_prefix)";
  }
}

}  // namespace
