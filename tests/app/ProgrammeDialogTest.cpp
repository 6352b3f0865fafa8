// SPDX-License-Identifier: GPL-3.0-or-later
// The "RDS and audio" dialog: what each item gives the engine, the texts it refuses, the values
// through a save and a load, and the clock the engine gets for the clock-time group.
#include <QApplication>
#include <QClipboard>
#include <chrono>
#include <cmath>
#include <cstdlib>

#include "FormWidgets.h"
#include "GuiHarness.h"
#include "ProgrammeDialog.h"
#include "RunRules.h"
#include "SettingsFile.h"

namespace kelvane::testing {
namespace {

class Programme : public ::testing::Test {
 protected:
  TempDir dir;
  std::string ini = dir / "vantorex.ini";
  Gui gui;
  TForm1& form() { return *gui.form; }
  static std::string Codes(std::size_t (TForm1::*read)(char*, std::size_t), TForm1& f) {
    char text[80] = {};
    const std::size_t n = (f.*read)(text, sizeof text);
    return std::string(text, std::min(n, sizeof text));
  }
};

// Types each character as a key press carrying it (keyClicks takes ASCII only).
void Type(QWidget* w, const QString& text) {
  for (const QChar c : text) {
    QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
  }
}

double Now() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

TEST_F(Programme, EveryItemReachesTheEngineAndSurvivesASaveAndALoad) {
  gui.Start(ini);
  // The link sits at the right end of the output group's edge, clear of its caption.
  QLabel* link = form().Label20;
  EXPECT_EQ(link->text(), "RDS and audio");
  EXPECT_EQ(link->parentWidget(), static_cast<QWidget*>(form().GroupBox11));
  EXPECT_EQ(link->y(), 0);
  QFont bold = link->font();
  bold.setUnderline(false);
  bold.setBold(true);
  const int captionEnd = 8 + QFontMetrics(bold).horizontalAdvance("Output Settings");
  EXPECT_GE(link->x() - captionEnd, 6);
  EXPECT_LE(link->x() + link->width(), form().GroupBox11->width() - 4);

  ASSERT_EQ(form().ProgrammeDialog(), nullptr);
  Gui::Click(link);
  TFRDS* d = form().ProgrammeDialog();
  ASSERT_NE(d, nullptr);
  EXPECT_TRUE(d->isVisible());
  EXPECT_FALSE(d->isModal());
  EXPECT_EQ(d->windowTitle(), "RDS and audio");
  Gui::Click(link);  // opened again: the same dialog
  EXPECT_EQ(form().ProgrammeDialog(), d);
  Gui::Click(d->GBTN1);  // "Close"
  EXPECT_FALSE(d->isVisible());
  form().activateWindow();
  QApplication::setActiveWindow(&form());
  QTest::keyClick(&form(), Qt::Key_R, Qt::ControlModifier);
  EXPECT_TRUE(d->isVisible());
  EXPECT_EQ(form().ProgrammeDialog(), d);

  // The first-run values are the engine's plain signal.
  ControlSnapshot snap;
  form().ReadControls(snap);
  EXPECT_EQ(snap.programme, ProgrammeSettings{});
  EXPECT_EQ(d->CBPTY->count(), 32);
  EXPECT_EQ(d->CBPTY->itemText(10), "10  Pop Music / Country");
  EXPECT_EQ(d->CBEMPH->itemText(1), "50 us (Europe)");

  d->CBEMPH->setCurrentIndex(2);
  Gui::Click(d->CBLOWPASS);
  d->CBPTY->setCurrentIndex(10);
  Gui::Click(d->CBTP);
  Gui::Click(d->CBTA);
  Gui::Click(d->CBMS);
  d->CBDI->setCurrentIndex(2);
  Gui::Click(d->CBCT);
  Type(d->ERT, QStringLiteral("Caf\u00e9 $5"));
  QTest::keyClicks(d->EAF, QStringLiteral("87.6, 104.2"));
  EXPECT_TRUE(d->LAFERR->text().isEmpty());

  ProgrammeSettings want;
  want.preEmphasis = Emphasis75us;
  want.audioLowPass = true;
  want.pty = 10;
  want.tp = false;
  want.ta = true;
  want.ms = false;
  want.di = DiFollowsStereo;
  want.ct = true;
  want.af[0] = 1;    // 87.6 MHz
  want.af[1] = 167;  // 104.2 MHz
  want.afCount = 2;
  form().ReadControls(snap);
  EXPECT_EQ(snap.programme, want);
  // RDS codes: 0x82 for the e acute, 0xAB for the dollar.
  EXPECT_EQ(Codes(&TForm1::ReadRTText, form()),
            "Caf\x82 \xAB"
            "5");

  // A character the RDS set lacks is neither typed nor pasted, in the RadioText or the PS.
  Type(d->ERT, QStringLiteral("\u0436"));
  QApplication::clipboard()->setText(QStringLiteral("ab\u0436"));
  d->ERT->paste();
  d->ERT->selectAll();
  d->ERT->paste();  // over the whole text
  EXPECT_EQ(d->ERT->text(), QStringLiteral("Caf\u00e9 $5"));
  form().EPS->clear();
  Type(form().EPS, QStringLiteral("Caf\u0436\u00e9"));
  EXPECT_EQ(form().EPS->text(), QStringLiteral("Caf\u00e9"));
  EXPECT_EQ(Codes(&TForm1::ReadPSText, form()), "Caf\x82");
  // The RadioText stops at 64 characters.
  QTest::keyClicks(d->ERT, QString(70, QLatin1Char('x')));
  EXPECT_EQ(d->ERT->text().size(), 64);
  EXPECT_EQ(Codes(&TForm1::ReadRTText, form()).size(), 64u);
  d->ERT->setText(QStringLiteral("Caf\u00e9 $5"));

  // An AF list that does not parse is shown as such and leaves the last one that did.
  d->EAF->selectAll();
  QTest::keyClicks(d->EAF, QStringLiteral("108.5"));
  EXPECT_EQ(d->LAFERR->text(), "108.5 MHz is outside 87.6 .. 107.9 MHz");
  EXPECT_NE(d->EAF->palette().color(QPalette::Text), d->ERT->palette().color(QPalette::Text));
  QTest::keyClicks(d->EAF, QStringLiteral(",,"));
  EXPECT_FALSE(d->LAFERR->text().isEmpty());
  form().ReadControls(snap);
  EXPECT_EQ(snap.programme, want);
  d->EAF->setText(QStringLiteral("87.6,104.2"));
  EXPECT_TRUE(d->LAFERR->text().isEmpty());
  EXPECT_EQ(d->EAF->palette().color(QPalette::Text), d->ERT->palette().color(QPalette::Text));

  // The values go to the file as they are and come back into a new window and its dialog,
  // which shows them also when it is open before the load.
  const SettingsValues saved = form().CurrentSettingsValues();
  EXPECT_EQ(saved.programme, want);
  EXPECT_EQ(saved.rdsRT,
            "Caf\x82 \xAB"
            "5");
  EXPECT_EQ(saved.rdsPS, "Caf\x82");
  d->close();
  EXPECT_FALSE(d->isVisible());
  form().ReadControls(snap);
  EXPECT_EQ(snap.programme, want);  // the dialog closed, the values stay

  Gui again;
  again.Start(dir / "other.ini");
  Gui::Click(again.form->Label20);
  TFRDS* d2 = again.form->ProgrammeDialog();
  ASSERT_NE(d2, nullptr);
  again.form->ShowSettingsValues(saved);
  ControlSnapshot snap2;
  again.form->ReadControls(snap2);
  EXPECT_EQ(snap2.programme, want);
  EXPECT_EQ(Codes(&TForm1::ReadRTText, *again.form), saved.rdsRT);
  EXPECT_EQ(Codes(&TForm1::ReadPSText, *again.form), "Caf\x82");
  EXPECT_EQ(again.form->EPS->text(), QStringLiteral("Caf\u00e9"));
  EXPECT_EQ(d2->CBPTY->currentIndex(), 10);
  EXPECT_EQ(d2->CBEMPH->currentIndex(), 2);
  EXPECT_EQ(d2->CBDI->currentIndex(), 2);
  EXPECT_TRUE(d2->CBCT->isChecked());
  EXPECT_FALSE(d2->CBTP->isChecked());
  EXPECT_EQ(d2->ERT->text(), QStringLiteral("Caf\u00e9 $5"));
  EXPECT_EQ(d2->EAF->text(), "87.6,104.2");
  const SettingsValues back = again.form->CurrentSettingsValues();
  EXPECT_EQ(back.programme, want);
  EXPECT_EQ(back.rdsRT, saved.rdsRT);
  EXPECT_EQ(back.rdsPS, saved.rdsPS);
}

TEST_F(Programme, ClockIsTheBlockAsHeardWithTheLocalOffset) {
  WriteFile(ini, "[General]\nAudioOutDeviceName=Speakers\nBufferLength=4\n");
  gui.Start(ini);
  ControlSnapshot snap;
  double before = Now();
  form().ReadControls(snap);
  double after = Now();
  EXPECT_GE(snap.clockUtc, before);
  EXPECT_LE(snap.clockUtc, after);

  // 1 s buffers at 192000 Hz are 2^20 bytes, 262144 frames; after the start all four are
  // queued, so a block filled now is heard after them.
  gui.ClickStartStop();
  ASSERT_TRUE(form().AudioOut1().DeviceOpen());
  const double queued = 4 * 262144 / 192000.0 + kDeviceLatencySeconds;
  before = Now();
  form().ReadControls(snap);
  after = Now();
  EXPECT_GE(snap.clockUtc, before + queued - 1e-6);
  EXPECT_LE(snap.clockUtc, after + queued + 1e-6);
  // One played and refilled: still four ahead of the next.
  gui.driver.Complete(1);
  Gui::Pump();
  EXPECT_NEAR(form().QueuedOutputSeconds(), queued, 1e-9);
  gui.ClickStartStop();
  EXPECT_EQ(form().QueuedOutputSeconds(), 0.0);

  // The local offset in half hours, west negative, held to what the group can carry.
  const char* oldTz = std::getenv("TZ");
  const std::string keep = oldTz != nullptr ? oldTz : "";
  auto offsetIn = [&](const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
    form().ReadControls(snap);
    return snap.localOffsetHalfHours;
  };
  EXPECT_EQ(offsetIn("NST3:30"), -7);
  EXPECT_EQ(offsetIn("IST-5:30"), 11);
  EXPECT_EQ(offsetIn("UTC0"), 0);
  EXPECT_EQ(offsetIn("FAR-16"), 31);
  if (oldTz != nullptr) {
    setenv("TZ", keep.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

}  // namespace
}  // namespace kelvane::testing
