// SPDX-License-Identifier: GPL-3.0-or-later
// The value spinner driven by mouse and key events: stepping, typing, gauge, pop-up track bar.
#include <QClipboard>
#include <QLineEdit>
#include <QSignalSpy>

#include "BMSpinEdit.h"
#include "Helpers.h"

namespace {

struct Spin : kt::Host {
  TBMSpinEdit* s;
  QLineEdit* other;  // somewhere for the focus to go
  Spin(double min, double max, double inc, int prec, const char* unit, double value,
       int width = 249) {
    s = new TBMSpinEdit(&window);
    QPalette p = s->palette();
    p.setColor(QPalette::Base, QColor(37, 37, 37));
    p.setColor(QPalette::Shadow, QColor(0, 0, 0));
    p.setColor(QPalette::Button, QColor(212, 208, 200));
    s->setPalette(p);
    s->setPrecision(prec);
    s->setValueUnit(QString::fromUtf8(unit));
    s->setMinValue(min);
    s->setMaxValue(max);
    s->setIncrement(inc);
    s->setValue(value);
    s->setGeometry(8, 8, width, 28);
    s->setGuageBeginColor(QColor(0, 0, 255));
    s->setGuageEndColor(QColor(255, 0, 0));
    other = new QLineEdit(&window);
    other->setGeometry(8, 100, 100, 20);
    s->show();
    other->show();
    s->setFocus();
  }
  void clickUp() { QTest::mouseClick(s->arrowPair(), Qt::LeftButton, {}, QPoint(6, 3)); }
  void clickDown() {
    QTest::mouseClick(s->arrowPair(), Qt::LeftButton, {}, QPoint(6, s->arrowPair()->height() - 3));
  }
};

const QColor kBase(37, 37, 37);

}  // namespace

TEST(BMSpinEdit, StepsUpLandOnTheMaximum) {
  Spin t(0, 150, 0.1, 1, "kHz", 149.8);
  ASSERT_TRUE(t.active);
  t.clickUp();
  EXPECT_EQ(t.s->text(), "149.9 kHz");
  t.clickUp();
  EXPECT_EQ(t.s->text(), "150.0 kHz");  // 149.9 is within one increment of the maximum
  QTest::keyClick(t.s, Qt::Key_Up);
  EXPECT_EQ(t.s->text(), "150.0 kHz");
  EXPECT_EQ(t.s->value(), 150.0);
  // After an arrow click the whole text is selected.
  t.clickDown();
  EXPECT_EQ(t.s->text(), "149.9 kHz");
  EXPECT_EQ(t.s->selectedText(), t.s->text());
}

TEST(BMSpinEdit, StepsDownLandOnTheMinimum) {
  Spin t(0.1, 10, 0.01, 2, "", 0.15);
  ASSERT_TRUE(t.active);
  QStringList seen;
  for (int i = 0; i < 6; ++i) {
    QTest::keyClick(t.s, Qt::Key_Down);
    seen << t.s->text();
  }
  EXPECT_EQ(seen, QStringList({"0.14", "0.13", "0.12", "0.11", "0.10", "0.10"}));
}

TEST(BMSpinEdit, ArrowTakesTheFocus) {
  Spin t(0, 100, 1, 0, "Hz", 5);
  ASSERT_TRUE(t.active);
  t.other->setFocus();
  ASSERT_FALSE(t.s->hasFocus());
  t.clickUp();
  EXPECT_TRUE(t.s->hasFocus());
  EXPECT_EQ(t.s->text(), "6 Hz");
}

TEST(BMSpinEdit, WritesClampAndOnChangeComparesTheUnclampedValue) {
  Spin t(1, 100, 0.1, 0, "", 10);
  QSignalSpy spy(t.s, &TBMSpinEdit::changed);
  t.s->setValue(500);
  EXPECT_EQ(t.s->text(), "100");
  EXPECT_EQ(spy.count(), 1);
  t.s->setValue(500);  // same text, but 500 differs from the 100 read back
  EXPECT_EQ(spy.count(), 2);
  t.s->setValue(100);
  EXPECT_EQ(spy.count(), 2);
  // Equal limits mean no limits.
  t.s->setMinValue(0);
  t.s->setMaxValue(0);
  t.s->setIncrement(1);
  t.s->setValue(12345);
  EXPECT_EQ(t.s->text(), "12345");
  QTest::keyClick(t.s, Qt::Key_Up);
  EXPECT_EQ(t.s->text(), "12346");
}

TEST(BMSpinEdit, NewLimitsClampTheValue) {
  Spin t(0, 100, 1, 1, "Hz", 80);
  t.s->setMaxValue(50);
  EXPECT_EQ(t.s->text(), "50.0 Hz");
  t.s->setValue(20);
  t.s->setMinValue(30);
  EXPECT_EQ(t.s->text(), "30.0 Hz");
  t.s->setPrecision(3);
  EXPECT_EQ(t.s->text(), "30.000 Hz");
  t.s->setValueUnit("kHz");
  EXPECT_EQ(t.s->text(), "30.000 kHz");
}

TEST(BMSpinEdit, TypedTextIsTakenClampedOnEnterAnArrowOrEscapeDropsIt) {
  Spin t(10, 90, 0.01, 2, "% of FS", 50, 105);
  ASSERT_TRUE(t.active);
  QSignalSpy spy(t.s, &TBMSpinEdit::changed);
  t.s->selectAll();
  QTest::keyClick(t.s, Qt::Key_7);
  EXPECT_EQ(t.s->text(), "7");  // kept as typed, not clamped per keystroke
  EXPECT_EQ(t.s->cursorPosition(), 1);
  EXPECT_EQ(t.s->value(), 50);
  EXPECT_EQ(spy.count(), 0);
  QTest::keyClick(t.s, Qt::Key_Return);
  EXPECT_EQ(t.s->text(), "10.00 % of FS");
  EXPECT_EQ(t.s->value(), 10);
  EXPECT_EQ(spy.count(), 1);
  // An arrow step takes the typed text, clamped, and steps from there.
  t.s->selectAll();
  QTest::keyClicks(t.s, "150");
  EXPECT_EQ(t.s->value(), 10);
  t.clickDown();
  EXPECT_EQ(t.s->text(), "89.99 % of FS");
  EXPECT_EQ(t.s->value(), 89.99);
  EXPECT_EQ(spy.count(), 2);
  // Escape drops the typing and shows the value in force again.
  t.s->selectAll();
  QTest::keyClicks(t.s, "3");
  QTest::keyClick(t.s, Qt::Key_Escape);
  EXPECT_EQ(t.s->text(), "89.99 % of FS");
  EXPECT_EQ(t.s->value(), 89.99);
  EXPECT_EQ(spy.count(), 2);
}

TEST(BMSpinEdit, WithoutUnitTypedTextIsTakenWhenTheFocusLeaves) {
  Spin t(0.5, 2, 0.01, 2, "", 1, 121);  // BMSEGO
  ASSERT_TRUE(t.active);
  t.s->selectAll();
  QTest::keyClicks(t.s, "2.5");
  EXPECT_EQ(t.s->text(), "2.5");
  EXPECT_EQ(t.s->value(), 1);
  QTest::keyClick(t.s, Qt::Key_Tab);
  EXPECT_FALSE(t.s->hasFocus());
  EXPECT_EQ(t.s->text(), "2.00");
  EXPECT_EQ(t.s->value(), 2);
  // A value inside the range keeps its typed form.
  t.s->setFocus();
  t.s->selectAll();
  QTest::keyClicks(t.s, "1,5");
  t.other->setFocus();
  EXPECT_EQ(t.s->text(), "1,5");
  EXPECT_EQ(t.s->value(), 1.5);
}

// What a reader such as the engine sees while the user types: only the value last taken.
TEST(BMSpinEdit, HalfTypedTextNeverBecomesTheValue) {
  {
    Spin t(4000, 10000, 10, 0, "Hz", 5000, 121);  // pilot deviation
    ASSERT_TRUE(t.active);
    QSignalSpy spy(t.s, &TBMSpinEdit::changed);
    t.s->selectAll();
    QTest::keyClick(t.s, Qt::Key_6);
    EXPECT_EQ(t.s->text(), "6");
    EXPECT_EQ(t.s->value(), 5000);
    QTest::keyClicks(t.s, "800");
    EXPECT_EQ(t.s->value(), 5000);
    EXPECT_EQ(spy.count(), 0);
    QTest::keyClick(t.s, Qt::Key_Enter);
    EXPECT_EQ(t.s->text(), "6800 Hz");
    EXPECT_EQ(t.s->value(), 6800);
    EXPECT_EQ(spy.count(), 1);
  }
  {
    Spin t(-30000, 30000, 1, 0, "Hz", 1000, 273);  // carrier frequency
    ASSERT_TRUE(t.active);
    const QImage gauge = kt::render(t.s->gauge());
    t.s->selectAll();
    QTest::keyClick(t.s, Qt::Key_Delete);
    EXPECT_EQ(t.s->text(), "");
    EXPECT_EQ(t.s->value(), 1000);
    EXPECT_EQ(kt::render(t.s->gauge()), gauge);  // the gauge shows the value in force
    QTest::keyClicks(t.s, "-2500");
    EXPECT_EQ(t.s->value(), 1000);
    // Moving to another window of the program takes the text.
    QWidget dialog;
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    EXPECT_EQ(t.s->text(), "-2500 Hz");
    EXPECT_EQ(t.s->value(), -2500);
  }
  {
    Spin t(0.5, 2, 0.01, 2, "", 1, 121);  // L to R gain ratio
    ASSERT_TRUE(t.active);
    t.s->selectAll();
    QTest::keyClick(t.s, Qt::Key_5);
    EXPECT_EQ(t.s->value(), 1);
    QTest::keyClick(t.s, Qt::Key_Return);
    EXPECT_EQ(t.s->text(), "2.00");
    EXPECT_EQ(t.s->value(), 2);
  }
}

// "50.00 % of FS" in the 105-pixel DC offset spinner: the text ends clear of the arrows.
TEST(BMSpinEdit, LongestTextClearsTheButtonStrip) {
  Spin t(10, 90, 0.01, 2, "% of FS", 50, 105);
  t.other->setFocus();  // no selection, no caret
  const QImage img = kt::render(t.s);
  const int strip = t.s->buttonStrip()->x();
  const int gauge = t.s->gauge()->y();
  int inkLeft = img.width(), inkRight = -1;
  for (int x = TBMSpinEdit::kFrame; x < strip; ++x) {
    for (int y = TBMSpinEdit::kFrame; y < gauge; ++y) {
      if (!kt::sameColor(kt::pixel(img, x, y), kBase)) {
        inkLeft = std::min(inkLeft, x);
        inkRight = std::max(inkRight, x);
      }
    }
  }
  EXPECT_EQ(t.s->text(), "50.00 % of FS");
  EXPECT_GE(inkLeft, TBMSpinEdit::kFrame + 1);
  EXPECT_LE(inkRight, strip - 1 - TBMSpinEdit::kStripGap) << "text touches the arrows";
  EXPECT_GE(inkRight - inkLeft, 60);  // all of it drawn, not scrolled away
}

TEST(BMSpinEdit, UnreadableTextReadsAsTheMinimum) {
  Spin t(0.1, 10, 0.01, 2, "Hz/step", 1);
  t.s->setText("");
  EXPECT_EQ(t.s->value(), 0.1);
  EXPECT_EQ(t.s->text(), "0.10 Hz/step");
  t.s->setText("abc Hz/step");
  EXPECT_EQ(t.s->value(), 0.1);
  EXPECT_EQ(t.s->text(), "0.10 Hz/step");
  t.s->setText("1-2 Hz/step");
  EXPECT_EQ(t.s->value(), 0.1);
}

TEST(BMSpinEdit, PropertyLimits) {
  TBMSpinEdit s;
  s.setPrecision(9);
  EXPECT_EQ(s.precision(), 6);
  s.setPrecision(-5);
  EXPECT_EQ(s.precision(), -1);
  s.setTrackBarWidth(20);
  EXPECT_EQ(s.trackBarWidth(), 50);
  s.setTrackBarWidth(1000);
  EXPECT_EQ(s.trackBarWidth(), 300);
  // Published under the same names.
  EXPECT_TRUE(s.setProperty("Precision", 3));
  EXPECT_EQ(s.property("Precision").toInt(), 3);
  EXPECT_TRUE(s.setProperty("ValueUnit", "Hz"));
  EXPECT_TRUE(s.setProperty("Value", 7.0));
  EXPECT_EQ(s.text(), "7.000 Hz");
}

TEST(BMSpinEdit, MinimumHeightIs28AtTheDialogFont) {
  TBMSpinEdit s;
  EXPECT_EQ(s.minimumSpinHeight(), 28);
  s.resize(249, 20);
  EXPECT_EQ(s.height(), 28);
  s.setGuageHeight(9);
  EXPECT_EQ(s.height(), 32);
}

TEST(BMSpinEdit, LayoutOfStripAndGauge) {
  Spin t(0, 150, 0.1, 1, "kHz", 10);
  // Client coordinates start inside the 2-pixel edge.
  EXPECT_EQ(t.s->buttonStrip()->geometry(), QRect(2 + 249 - 13 - 13 - 7, 2, 29, 19));
  EXPECT_EQ(t.s->arrowPair()->geometry(), QRect(1, 1, 13, 17));
  EXPECT_EQ(t.s->dropDownButton()->geometry(), QRect(15, 1, 13, 17));
  EXPECT_EQ(t.s->gauge()->geometry(), QRect(2, 2 + 28 - 5 - 5, 245, 7));
  t.s->setTrackBarEnabled(false);
  EXPECT_EQ(t.s->buttonStrip()->geometry(), QRect(2 + 249 - 13 - 7, 2, 16, 19));
  EXPECT_FALSE(t.s->dropDownButton()->isVisibleTo(t.s));
}

TEST(BMSpinEdit, TwoSidedGaugeAtZeroAndHalfTheMaximum) {
  Spin t(-30000, 30000, 1, 0, "Hz", 0);
  QImage g = kt::render(t.s->gauge());
  ASSERT_EQ(g.width(), 245);
  // w = 244, centre pixel m = round(30000 * 244 / 60000 + 1) = 123.
  EXPECT_TRUE(kt::sameColor(kt::pixel(g, 123, 3), QColor(0, 0, 0)));
  EXPECT_TRUE(kt::sameColor(kt::pixel(g, 100, 3), kBase));
  EXPECT_TRUE(kt::sameColor(kt::pixel(g, 150, 3), kBase));

  t.s->setValue(15000);
  g = kt::render(t.s->gauge());
  // End pixel b = round(45000 * 244 / 60000 + 1) = 184; f = round(15000 * 256 / 30000 + 1) = 129:
  // red 129 * 255 / 256 = 128, blue 255 - 128 = 127.
  const QColor bar(128, 0, 127);
  EXPECT_TRUE(kt::sameColor(kt::pixel(g, 124, 3), bar));
  EXPECT_TRUE(kt::sameColor(kt::pixel(g, 183, 3), bar));
  EXPECT_TRUE(kt::sameColor(kt::pixel(g, 184, 3), kBase));
  EXPECT_TRUE(kt::sameColor(kt::pixel(g, 122, 3), kBase));
  EXPECT_TRUE(kt::sameColor(kt::pixel(g, 123, 3), QColor(0, 0, 0)));  // centre line on top
  // The one-pixel frame in the button-face colour.
  EXPECT_TRUE(kt::sameColor(kt::pixel(g, 150, 0), QColor(212, 208, 200)));

  t.s->setValue(-30000);  // the far left end: f = 257, the full end colour
  g = kt::render(t.s->gauge());
  EXPECT_TRUE(kt::sameColor(kt::pixel(g, 1, 3), QColor(255, 0, 0)));
  EXPECT_TRUE(kt::sameColor(kt::pixel(g, 122, 3), QColor(255, 0, 0)));
}

TEST(BMSpinEdit, OneSidedGaugeExtentAndColour) {
  Spin t(0, 150, 0.1, 1, "kHz", 75);
  QImage g = kt::render(t.s->gauge());
  // b = round(75 * 244 / 150 + 1) = 123, f = 129.
  EXPECT_TRUE(kt::sameColor(kt::pixel(g, 1, 3), QColor(128, 0, 127)));
  EXPECT_TRUE(kt::sameColor(kt::pixel(g, 122, 3), QColor(128, 0, 127)));
  EXPECT_TRUE(kt::sameColor(kt::pixel(g, 123, 3), kBase));
  t.s->setValue(0);  // b = 1: only column 0, which the frame covers
  g = kt::render(t.s->gauge());
  EXPECT_TRUE(kt::sameColor(kt::pixel(g, 1, 3), kBase));
  // A separate gauge range.
  t.s->setGaugeMinValue(50);
  t.s->setGaugeMaxValue(100);
  t.s->setValue(75);
  g = kt::render(t.s->gauge());
  EXPECT_TRUE(kt::sameColor(kt::pixel(g, 122, 3), QColor(128, 0, 127)));
  EXPECT_TRUE(kt::sameColor(kt::pixel(g, 123, 3), kBase));
}

TEST(BMSpinEdit, GaugeClickAndDragSetTheValue) {
  Spin t(0, 243, 1, 0, "Hz", 0);  // v = 243 * x / (245 - 2) = x
  ASSERT_TRUE(t.active);
  t.other->setFocus();
  QSignalSpy spy(t.s, &TBMSpinEdit::changed);
  QWidget* g = t.s->gauge();
  kt::sendMouse(g, QEvent::MouseButtonPress, QPoint(100, 3), Qt::LeftButton, Qt::LeftButton);
  EXPECT_EQ(t.s->text(), "100 Hz");
  EXPECT_TRUE(t.s->hasFocus());
  EXPECT_FALSE(t.s->hasSelectedText());
  kt::sendMouse(g, QEvent::MouseMove, QPoint(200, 3), Qt::NoButton, Qt::LeftButton);
  EXPECT_EQ(t.s->text(), "200 Hz");
  kt::sendMouse(g, QEvent::MouseMove, QPoint(400, 3), Qt::NoButton, Qt::LeftButton);
  EXPECT_EQ(t.s->text(), "243 Hz");  // clamped
  kt::sendMouse(g, QEvent::MouseButtonRelease, QPoint(50, 3), Qt::LeftButton, Qt::NoButton);
  EXPECT_EQ(t.s->text(), "50 Hz");
  EXPECT_EQ(t.s->selectedText(), t.s->text());
  EXPECT_EQ(spy.count(), 4);
  // Moving without a press does nothing; the gauge increment rounds.
  kt::sendMouse(g, QEvent::MouseMove, QPoint(10, 3), Qt::NoButton, Qt::NoButton);
  EXPECT_EQ(t.s->text(), "50 Hz");
  t.s->setIncrementGauge(10);
  QTest::mouseClick(g, Qt::LeftButton, {}, QPoint(104, 3));
  EXPECT_EQ(t.s->text(), "100 Hz");
}

TEST(BMSpinEdit, DropDownTrackBarFollowsThePointerWithoutTakingTheFocus) {
  Spin t(0, 123, 1, 0, "Hz", 41);
  ASSERT_TRUE(t.active);
  QWidget* dd = t.s->dropDownButton();
  TPopupForm* popup = t.s->popupForm();
  const QPoint pressAt(6, 8);
  kt::sendMouse(dd, QEvent::MouseButtonPress, pressAt, Qt::LeftButton, Qt::LeftButton);
  ASSERT_TRUE(popup->isVisible());
  EXPECT_TRUE(t.s->hasFocus());
  EXPECT_FALSE(popup->isActiveWindow());
  EXPECT_EQ(QApplication::activeWindow(), &t.window);
  EXPECT_EQ(popup->width(), 150);
  EXPECT_EQ(popup->height(), PopupTrackBar::kNaturalThickness - 10);
  // Position 41 * 1000 / 123 = 333; the thumb's centre lies under the pointer.
  PopupTrackBar* bar = popup->trackBar();
  EXPECT_EQ(bar->position(), 333);
  const QPoint press = dd->mapToGlobal(pressAt);
  EXPECT_EQ(bar->mapToGlobal(QPoint(0, 0)).x() + bar->thumbOffset() + 7, press.x());
  EXPECT_EQ(popup->y(), dd->mapToGlobal(QPoint(0, dd->height())).y());

  // The bar is 142 wide: b = 142 - 4 - 15 = 123 pixels of travel, one per unit here.
  ASSERT_EQ(bar->channelLength() - PopupTrackBar::kThumbLength, 123);
  const int zeroX = bar->mapToGlobal(QPoint(0, 0)).x() + bar->channelStart() + 15;
  auto moveTo = [&](int screenX) {
    kt::sendMouse(dd, QEvent::MouseMove, dd->mapFromGlobal(QPoint(screenX, press.y())),
                  Qt::NoButton, Qt::LeftButton);
  };
  moveTo(zeroX + 100);
  EXPECT_EQ(t.s->text(), "100 Hz");
  EXPECT_EQ(bar->position(), 813);  // round(100 * 1000 / 123)
  moveTo(zeroX - 40);
  EXPECT_EQ(t.s->text(), "0 Hz");
  moveTo(zeroX + 500);
  EXPECT_EQ(t.s->text(), "123 Hz");
  kt::sendMouse(dd, QEvent::MouseButtonRelease, QPoint(6, 8), Qt::LeftButton, Qt::NoButton);
  EXPECT_FALSE(popup->isVisible());
  EXPECT_TRUE(t.s->hasFocus());
  EXPECT_EQ(t.s->selectedText(), t.s->text());
}

TEST(BMSpinEdit, VerticalTrackBarHasItsMaximumAtTheTop) {
  Spin t(0, 123, 1, 0, "Hz", 0);
  ASSERT_TRUE(t.active);
  t.s->setTrackBarOrientation(TBMSpinEdit::trVertical);
  QWidget* dd = t.s->dropDownButton();
  kt::sendMouse(dd, QEvent::MouseButtonPress, QPoint(6, 8), Qt::LeftButton, Qt::LeftButton);
  TPopupForm* popup = t.s->popupForm();
  ASSERT_TRUE(popup->isVisible());
  EXPECT_EQ(popup->height(), 150);
  EXPECT_EQ(popup->x(), dd->mapToGlobal(QPoint(dd->width(), 0)).x());
  PopupTrackBar* bar = popup->trackBar();
  EXPECT_EQ(bar->position(), 1000);
  const int zeroY = bar->mapToGlobal(QPoint(0, 0)).y() + bar->channelStart() + 15;
  kt::sendMouse(dd, QEvent::MouseMove, dd->mapFromGlobal(QPoint(0, zeroY + 23)), Qt::NoButton,
                Qt::LeftButton);
  EXPECT_EQ(t.s->text(), "100 Hz");
  kt::sendMouse(dd, QEvent::MouseButtonRelease, QPoint(6, 8), Qt::LeftButton, Qt::NoButton);
  EXPECT_FALSE(popup->isVisible());
}

TEST(BMSpinEdit, CutAndPasteAreIgnoredUnlessTheEditorIsEnabled) {
  Spin t(0, 100, 1, 0, "", 5);
  ASSERT_TRUE(t.active);
  QApplication::clipboard()->setText("42");
  t.s->selectAll();
  QTest::keyClick(t.s, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(t.s->text(), "5");
  t.s->selectAll();
  QTest::keyClick(t.s, Qt::Key_X, Qt::ControlModifier);
  EXPECT_EQ(t.s->text(), "5");
  QTest::keyClick(t.s, Qt::Key_9);  // typing still works
  EXPECT_EQ(t.s->text(), "9");

  t.s->setEditorEnabled(true);
  t.s->selectAll();
  QTest::keyClick(t.s, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(t.s->text(), "42");
}
