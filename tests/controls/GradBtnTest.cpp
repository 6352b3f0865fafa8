// SPDX-License-Identifier: GPL-3.0-or-later
// The gradient button: gradient pixels, frame, caption accelerators, pressed look and click rules.
#include <QSignalSpy>

#include "ControlLooks.h"
#include "GradBtn.h"
#include "Helpers.h"

namespace {

const QColor kNavy(0, 0, 128), kAqua(0, 255, 255);

struct Button : kt::Host {
  TGradBtn* b;
  QSignalSpy* clicks;
  Button() {
    b = new TGradBtn(&window);
    b->setGeometry(10, 10, 73, 25);
    b->show();
    clicks = new QSignalSpy(b, &TGradBtn::clicked);
  }
  ~Button() { delete clicks; }
};

}  // namespace

TEST(GradBtn, Defaults) {
  TGradBtn b;
  EXPECT_EQ(b.size(), QSize(75, 25));
  EXPECT_EQ(b.beginColor(), kNavy);
  EXPECT_EQ(b.endColor(), kAqua);
  EXPECT_EQ(b.gradstyle(), TGradBtn::gsVertCenter);
  EXPECT_EQ(b.textStyle(), TGradBtn::tsRaised);
  EXPECT_EQ(b.btnFrameSize(), 1);
  EXPECT_EQ(b.focusPolicy(), Qt::StrongFocus);
  EXPECT_EQ(b.property("gradstyle").toInt(), TGradBtn::gsVertCenter);
}

TEST(GradBtn, FrameSizeLimit) {
  TGradBtn b;
  b.resize(73, 25);
  b.setBtnFrameSize(10);  // limit min(73 / 2 - 5, 25 / 2 - 5) = 7
  EXPECT_EQ(b.btnFrameSize(), 1);
  b.setBtnFrameSize(8);
  EXPECT_EQ(b.btnFrameSize(), 1);
  b.setBtnFrameSize(7);
  EXPECT_EQ(b.btnFrameSize(), 7);
}

TEST(GradBtn, VertCenterRows) {
  TGradBtn b;
  b.resize(73, 25);
  b.setBtnFrameSize(0);
  const QImage img = kt::render(&b);
  // h = 12: rows 0 and 24 step 0, row 12 step 12, row 6 step 6 of 12.
  EXPECT_TRUE(kt::sameColor(kt::pixel(img, 30, 0), kNavy));
  EXPECT_TRUE(kt::sameColor(kt::pixel(img, 30, 24), kNavy));
  EXPECT_TRUE(kt::sameColor(kt::pixel(img, 30, 12), kAqua));
  EXPECT_TRUE(kt::sameColor(kt::pixel(img, 30, 6), QColor(0, 127, 191)));
  EXPECT_TRUE(kt::sameColor(kt::pixel(img, 30, 18), QColor(0, 127, 191)));
}

TEST(GradBtn, OtherGradientStyles) {
  TGradBtn b;
  b.resize(75, 25);
  b.setBtnFrameSize(0);
  b.setGradstyle(TGradBtn::gsBHorizontal);
  QImage img = kt::render(&b);
  // Column 0 is strip 3 (strips 0..2 are empty at this width), column 74 strip 255.
  EXPECT_TRUE(kt::sameColor(kt::pixel(img, 0, 12), QColor(0, 3, 129)));
  EXPECT_TRUE(kt::sameColor(kt::pixel(img, 74, 12), kAqua));
  b.setGradstyle(TGradBtn::gsBVertical);
  img = kt::render(&b);
  EXPECT_TRUE(kt::sameColor(kt::pixel(img, 40, 24), kAqua));
  EXPECT_TRUE(kt::sameColor(kt::pixel(img, 40, 0), QColor(0, 10, 132)));  // strip 10
  b.setGradstyle(TGradBtn::gsHorizCenter);
  img = kt::render(&b);
  EXPECT_TRUE(kt::sameColor(kt::pixel(img, 0, 5), kNavy));
  EXPECT_TRUE(kt::sameColor(kt::pixel(img, 74, 5), kNavy));
  EXPECT_TRUE(kt::sameColor(kt::pixel(img, 37, 5), kAqua));
  b.setGradstyle(TGradBtn::gsRectangle);
  img = kt::render(&b);
  // Rectangles 0..5 all start at (0, 0); the last of them is step 5.
  EXPECT_TRUE(kt::sameColor(kt::pixel(img, 0, 0), QColor(0, 5, 130)));
  EXPECT_TRUE(kt::sameColor(kt::pixel(img, 37, 12), kAqua));
  // Ellipses: the corners lie inside the first few, the centre inside the last ones (the exact
  // step at a pixel follows the ellipse rasteriser).
  b.setGradstyle(TGradBtn::gsElliptic);
  img = kt::render(&b);
  EXPECT_LT(kt::pixel(img, 0, 0).green(), 255 * 10 / 50);
  EXPECT_LT(kt::pixel(img, 74, 24).green(), 255 * 10 / 50);
  EXPECT_GT(kt::pixel(img, 37, 12).green(), 255 * 45 / 50);
  EXPECT_GT(kt::pixel(img, 37, 12).blue(), 128 + 127 * 45 / 50);
}

TEST(GradBtn, FrameAndPressedLook) {
  Button t;
  ASSERT_TRUE(t.active);
  kelvane::looks::viewButton(t.b);  // frame 2, grey over black, black to grey
  t.b->setShowFocus(false);
  QImage up = kt::render(t.b);
  EXPECT_TRUE(kt::sameColor(kt::pixel(up, 0, 10), QColor(128, 128, 128)));
  EXPECT_TRUE(kt::sameColor(kt::pixel(up, 1, 10), QColor(128, 128, 128)));
  EXPECT_TRUE(kt::sameColor(kt::pixel(up, 72, 10), QColor(0, 0, 0)));
  EXPECT_TRUE(kt::sameColor(kt::pixel(up, 5, 12), QColor(128, 128, 128)));  // the middle row

  QTest::mousePress(t.b, Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_TRUE(t.b->isDown());
  EXPECT_TRUE(t.b->hasFocus());
  EXPECT_EQ(t.b->beginColor(), QColor(128, 128, 128));
  const QImage down = kt::render(t.b);
  EXPECT_TRUE(kt::sameColor(kt::pixel(down, 0, 10), QColor(0, 0, 0)));
  EXPECT_TRUE(kt::sameColor(kt::pixel(down, 72, 10), QColor(128, 128, 128)));
  EXPECT_TRUE(kt::sameColor(kt::pixel(down, 5, 12), QColor(0, 0, 0)));
  QTest::mouseRelease(t.b, Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_EQ(t.clicks->count(), 1);
  EXPECT_FALSE(t.b->isDown());
  EXPECT_EQ(kt::render(t.b), up);
}

TEST(GradBtn, ClickSeesTheReleasedColours) {
  Button t;
  ASSERT_TRUE(t.active);
  QColor seen;
  QObject::connect(t.b, &TGradBtn::clicked, [&] { seen = t.b->beginColor(); });
  QTest::mouseClick(t.b, Qt::LeftButton, {}, QPoint(20, 10));
  EXPECT_EQ(t.clicks->count(), 1);
  EXPECT_EQ(seen, kNavy);
  EXPECT_EQ(t.b->beginColor(), kNavy);
}

TEST(GradBtn, RightClickChangesNothing) {
  Button t;
  ASSERT_TRUE(t.active);
  t.b->setFocus();
  const QImage before = kt::render(t.b);
  QTest::mouseClick(t.b, Qt::RightButton, {}, QPoint(20, 10));
  EXPECT_EQ(t.clicks->count(), 0);
  EXPECT_FALSE(t.b->isDown());
  EXPECT_EQ(t.b->beginColor(), kNavy);
  EXPECT_EQ(kt::render(t.b), before);
}

TEST(GradBtn, EnterClicksOnceWithTheColoursSwappedMeanwhile) {
  Button t;
  ASSERT_TRUE(t.active);
  t.b->setFocus();
  QColor seen;
  QObject::connect(t.b, &TGradBtn::clicked, [&] { seen = t.b->beginColor(); });
  QTest::keyClick(t.b, Qt::Key_Return);
  EXPECT_EQ(t.clicks->count(), 1);
  EXPECT_EQ(seen, kAqua);
  EXPECT_EQ(t.b->beginColor(), kNavy);
  EXPECT_EQ(t.b->endColor(), kAqua);
  t.b->setSwapColors(false);
  QTest::keyClick(t.b, Qt::Key_Enter);
  EXPECT_EQ(t.clicks->count(), 2);
  EXPECT_EQ(seen, kNavy);
}

TEST(GradBtn, DragOutAndBack) {
  Button t;
  ASSERT_TRUE(t.active);
  const QImage up = kt::render(t.b);
  kt::sendMouse(t.b, QEvent::MouseButtonPress, QPoint(20, 10), Qt::LeftButton, Qt::LeftButton);
  EXPECT_TRUE(t.b->isDown());
  kt::sendMouse(t.b, QEvent::MouseMove, QPoint(120, 10), Qt::NoButton, Qt::LeftButton);
  EXPECT_FALSE(t.b->isDown());
  EXPECT_EQ(t.b->beginColor(), kNavy);
  kt::sendMouse(t.b, QEvent::MouseButtonRelease, QPoint(120, 10), Qt::LeftButton, Qt::NoButton);
  EXPECT_EQ(t.clicks->count(), 0);
  EXPECT_FALSE(t.b->isDown());
  t.b->clearFocus();
  EXPECT_EQ(kt::render(t.b), up);

  // Out and back in while held, then released inside: pressed again, and a click.
  kt::sendMouse(t.b, QEvent::MouseButtonPress, QPoint(20, 10), Qt::LeftButton, Qt::LeftButton);
  kt::sendMouse(t.b, QEvent::MouseMove, QPoint(-5, 10), Qt::NoButton, Qt::LeftButton);
  EXPECT_FALSE(t.b->isDown());
  kt::sendMouse(t.b, QEvent::MouseMove, QPoint(30, 12), Qt::NoButton, Qt::LeftButton);
  EXPECT_TRUE(t.b->isDown());
  EXPECT_EQ(t.b->beginColor(), kAqua);
  kt::sendMouse(t.b, QEvent::MouseButtonRelease, QPoint(30, 12), Qt::LeftButton, Qt::NoButton);
  EXPECT_EQ(t.clicks->count(), 1);
  EXPECT_EQ(t.b->beginColor(), kNavy);
}

TEST(GradBtn, AcceleratorText) {
  EXPECT_EQ(TGradBtn::displayText("&Start"), "Start");
  EXPECT_EQ(TGradBtn::acceleratorIndex("&Start"), 0);
  EXPECT_EQ(TGradBtn::displayText("&&Start"), "&Start");
  EXPECT_EQ(TGradBtn::acceleratorIndex("&&Start"), -1);
  EXPECT_EQ(TGradBtn::displayText("Save && E&xit"), "Save & Exit");
  EXPECT_EQ(TGradBtn::acceleratorIndex("Save && E&xit"), 8);
}

TEST(GradBtn, AcceleratorIsUnderlinedUnderItsCharacterOnly) {
  TGradBtn plain, marked;
  for (TGradBtn* b : {&plain, &marked}) {
    b->resize(75, 25);
    b->setTextStyle(TGradBtn::tsNormal);
  }
  plain.setCaption("Start");
  marked.setCaption("&Start");
  const QImage a = kt::render(&plain), b = kt::render(&marked);
  const QFontMetrics fm(marked.font());
  const int left = (75 - fm.horizontalAdvance("Start")) / 2;
  const int sRight = left + fm.horizontalAdvance("S");
  int differing = 0;
  for (int y = 0; y < 25; ++y) {
    for (int x = 0; x < 75; ++x) {
      if (a.pixel(x, y) != b.pixel(x, y)) {
        ++differing;
        EXPECT_GE(x, left - 1);
        EXPECT_LE(x, sRight + 1);
      }
    }
  }
  EXPECT_GT(differing, 0);
  // A doubled ampersand draws one, like the text "&Start" measured plainly.
  marked.setCaption("&&Start");
  plain.setCaption("&Start");
  EXPECT_NE(kt::render(&marked), kt::render(&plain));
}

TEST(GradBtn, AcceleratorKeyClicksWhileEnabled) {
  Button t;
  ASSERT_TRUE(t.active);
  t.b->setCaption("&Start");
  QTest::keyClick(&t.window, Qt::Key_S, Qt::AltModifier);
  EXPECT_EQ(t.clicks->count(), 1);
  EXPECT_EQ(t.b->beginColor(), kNavy);
  t.b->setEnabled(false);
  QTest::keyClick(&t.window, Qt::Key_S, Qt::AltModifier);
  EXPECT_EQ(t.clicks->count(), 1);
}

TEST(GradBtn, DisabledCaptionUsesTheDisabledColour) {
  TGradBtn b;
  b.resize(75, 25);
  b.setBtnFrameSize(0);
  b.setTextStyle(TGradBtn::tsNormal);
  b.setGradstyle(TGradBtn::gsBVertical);
  b.setBeginColor(Qt::white);
  b.setEndColor(Qt::white);
  b.setTxtHiliteClr(Qt::white);
  b.setDisabledColor(QColor(255, 0, 0));
  b.setFontColor(QColor(0, 0, 255));
  b.setCaption("MMMM");
  // The text is anti-aliased: count pixels that are mostly blue or mostly red.
  auto count = [](const QImage& img, bool blue) {
    int n = 0;
    for (int y = 0; y < img.height(); ++y) {
      for (int x = 0; x < img.width(); ++x) {
        const QColor c(img.pixel(x, y));
        n += blue ? (c.red() < 100 && c.green() < 100 && c.blue() > 200)
                  : (c.red() > 200 && c.green() < 100 && c.blue() < 100);
      }
    }
    return n;
  };
  const QImage on = kt::render(&b);
  EXPECT_GT(count(on, true), 10);
  EXPECT_EQ(count(on, false), 0);
  b.setEnabled(false);
  const QImage off = kt::render(&b);
  EXPECT_EQ(count(off, true), 0);
  EXPECT_GT(count(off, false), 10);
}
