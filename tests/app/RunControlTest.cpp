// SPDX-License-Identifier: GPL-3.0-or-later
// Start and Stop from the window: buffer sizes, the RDS box, devices that are missing, fail or
// vanish, the engine state across runs, the input level bar and rapid clicking.
#include <QApplication>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QTimer>
#include <QtTest/QTest>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "CLEDLbl.h"
#include "ComplexSpectrumView.h"
#include "FBVUMeter.h"
#include "GuiHarness.h"
#include "ScopeView.h"

namespace kelvane::testing {
namespace {

class RunControl : public ::testing::Test {
 protected:
  TempDir dir;
  std::string ini = dir / "vantorex.ini";
  Gui gui;
  TForm1& form() { return *gui.form; }
};

TEST_F(RunControl, BufferSizeForEveryRateAndLength) {
  // Bytes per buffer by buffer length (rows) and sampling rate (columns).
  constexpr int kTable[5][4] = {{16384, 16384, 32768, 65536},
                                {32768, 32768, 65536, 131072},
                                {65536, 65536, 131072, 262144},
                                {131072, 131072, 262144, 524288},
                                {262144, 262144, 524288, 1048576}};
  constexpr int kRates[4] = {44100, 48000, 96000, 192000};
  gui.Start(ini);
  for (int length = 0; length < 5; ++length) {
    for (int rate = 0; rate < 4; ++rate) {
      form().CBBL->setCurrentIndex(length);
      form().CBSR->setCurrentIndex(rate);
      gui.ClickStartStop();
      ASSERT_EQ(gui.Caption(), "Stop");
      EXPECT_EQ(gui.driver.openedBlockBytes, static_cast<uint32_t>(kTable[length][rate]))
          << "length " << length << " rate " << kRates[rate];
      EXPECT_EQ(gui.driver.openedFormat.samplesPerSec, static_cast<uint32_t>(kRates[rate]));
      EXPECT_EQ(gui.driver.openedFormat.channels, 2);
      EXPECT_EQ(gui.driver.openedFormat.bitsPerSample, 16);
      EXPECT_EQ(form().Engine().FrameRate(), kRates[rate]);
      gui.ClickStartStop();
      ASSERT_EQ(gui.Caption(), "Start");
    }
  }
}

TEST_F(RunControl, RdsBoxIsEnabledOnlyAt192000) {
  gui.Start(ini);
  form().CBRDS->setChecked(true);
  gui.ClickStartStop();
  EXPECT_TRUE(form().CBRDS->isEnabled());
  EXPECT_TRUE(form().CBRDS->isChecked());
  gui.ClickStartStop();
  for (int rate : {0, 1, 2}) {
    form().CBSR->setCurrentIndex(rate);
    form().CBRDS->setEnabled(true);
    form().CBRDS->setChecked(true);
    gui.ClickStartStop();
    EXPECT_FALSE(form().CBRDS->isChecked());
    EXPECT_FALSE(form().CBRDS->isEnabled());
    gui.ClickStartStop();
    EXPECT_FALSE(form().CBRDS->isEnabled());  // stays so after the stop
  }
  form().CBSR->setCurrentIndex(3);
  gui.ClickStartStop();
  EXPECT_TRUE(form().CBRDS->isEnabled());
  EXPECT_FALSE(form().CBRDS->isChecked());
}

TEST_F(RunControl, StartWithoutAnOutputDeviceSaysWhyAndStaysStopped) {
  // Saved while running, on a device that has gone since: the start at creation says why.
  WriteFile(ini, "[General]\nRunning=1\nAudioOutDeviceName=USB headset\nAudioOutDevice=5\n");
  gui.Start(ini);
  EXPECT_EQ(form().ComboBox3->currentIndex(), -1);
  ASSERT_EQ(gui.errors.size(), 1u);
  EXPECT_EQ(gui.errors[0], "No output device is selected.");
  EXPECT_EQ(gui.Caption(), "Start");
  EXPECT_EQ(gui.driver.Count("open"), 0);

  // A first run on a machine without any device: the button does the same.
  Gui bare;
  bare.driver.outNames.clear();
  bare.driver.inNames.clear();
  bare.Start(dir / "first.ini");
  EXPECT_EQ(bare.form->ComboBox3->count(), 0);
  bare.form->RBEXT->setChecked(true);
  bare.ClickStartStop();
  ASSERT_EQ(bare.errors.size(), 1u);
  EXPECT_EQ(bare.errors[0], "No output device is selected.");
  EXPECT_EQ(bare.Caption(), "Start");
  EXPECT_FALSE(bare.form->IsRunning());
  EXPECT_TRUE(bare.driver.log.empty());  // nothing opened, the input neither
  EXPECT_TRUE(bare.notices.empty());

  // An output but no input for the sound-card source: the run starts and says what it lacks.
  Gui noInput;
  noInput.driver.inNames.clear();
  noInput.Start(dir / "no-input.ini");
  noInput.form->RBEXT->setChecked(true);
  noInput.ClickStartStop();
  EXPECT_TRUE(noInput.errors.empty());
  EXPECT_EQ(noInput.Caption(), "Stop");
  ASSERT_EQ(noInput.notices.size(), 1u);
  EXPECT_EQ(noInput.notices[0],
            "No input device is selected: the sound-card source modulates the carrier with "
            "silence.");
  noInput.ClickStartStop();
}

TEST_F(RunControl, NoSamplingRateSelectedIsAnErrorThatLeavesTheCaption) {
  gui.Start(ini);
  form().CBSR->setCurrentIndex(-1);
  gui.ClickStartStop();
  ASSERT_EQ(gui.errors.size(), 1u);
  EXPECT_EQ(gui.errors[0], "'' is not a valid integer value.");
  EXPECT_EQ(gui.Caption(), "Start");
  EXPECT_FALSE(form().IsRunning());
  EXPECT_EQ(gui.driver.Count("open"), 0);
}

TEST_F(RunControl, DeviceThatFailsToOpenIsReportedAndTheWindowStaysUsable) {
  gui.driver.openResult = wave::Allocated;
  gui.Start(ini);
  gui.ClickStartStop();
  EXPECT_EQ(gui.Caption(), "Stop");
  ASSERT_EQ(gui.notices.size(), 1u);
  EXPECT_EQ(gui.notices[0], "The output device \"Speakers\" could not be opened: fake error 4.");
  gui.ClickStartStop();
  EXPECT_EQ(gui.Caption(), "Start");
  gui.driver.openResult = wave::NoError;
  gui.ClickStartStop();
  EXPECT_TRUE(form().AudioOut1().DeviceOpen());
  // Opened, but its start fails: closed again and said so, not shown as playing silently.
  gui.ClickStartStop();
  gui.driver.startResult = wave::NotEnabled;
  gui.ClickStartStop();
  EXPECT_FALSE(form().AudioOut1().DeviceOpen());
  ASSERT_EQ(gui.notices.size(), 2u);
  EXPECT_EQ(gui.notices[1], "The output device \"Speakers\" could not be opened: fake error 3.");
}

TEST_F(RunControl, DeviceLostWhileStreamingIsReported) {
  gui.Start(ini);
  gui.ClickStartStop();
  ASSERT_TRUE(form().AudioOut1().DeviceOpen());
  gui.driver.health = wave::DeviceLost;
  gui.driver.Complete(1);
  Gui::Pump();
  EXPECT_FALSE(form().AudioOut1().DeviceOpen());
  ASSERT_EQ(gui.notices.size(), 1u);
  EXPECT_EQ(gui.notices[0], "The output device stopped: fake error 36.");
  EXPECT_EQ(gui.Caption(), "Stop");
  gui.ClickStartStop();
  EXPECT_EQ(gui.Caption(), "Start");
}

TEST_F(RunControl, StartStopStartContinuesTheEngineState) {
  gui.Start(ini);
  form().CBSR->setCurrentIndex(1);  // 48000 Hz
  form().CBBL->setCurrentIndex(0);  // 16384-byte buffers
  gui.ClickStartStop();
  gui.driver.Complete(2);
  Gui::Pump();  // two buffers played and refilled: six fills so far
  gui.ClickStartStop();
  const EngineState kept = form().Engine().State();
  gui.ClickStartStop();  // four more fills
  ASSERT_EQ(gui.Caption(), "Stop");

  // The same ten fills by one engine that never stopped, reading the same controls.
  Modulator ref(form());
  ref.SetFrameRate(48000);
  ref.BeginRun(SourceSine);
  std::vector<uint8_t> block(16384);
  for (int i = 0; i < 6; ++i) ref.AudioOut1FillBuffer(block.data(), 16384);
  EXPECT_EQ(kept.CarrierPhase, ref.State().CarrierPhase);
  EXPECT_EQ(kept.PilotPhase, ref.State().PilotPhase);
  for (int i = 0; i < 4; ++i) {
    ref.AudioOut1FillBuffer(block.data(), 16384);
    const BufferSlot& slot = form().AudioOut1().Slot(i);
    EXPECT_EQ(std::memcmp(slot.data, block.data(), block.size()), 0) << "buffer " << i;
  }
  EXPECT_NE(kept.CarrierPhase, 0.0);
}

TEST_F(RunControl, CaptureHandlerFeedsTheLevelBar) {
  gui.Start(ini);
  form().RBEXT->setChecked(true);
  gui.driver.outNames.clear();  // the output device is gone since the list was read: capture only
  gui.ClickStartStop();
  ASSERT_TRUE(form().AudioIn1().DeviceOpen());
  EXPECT_EQ(form().FBVU->litCount(0), 0);
  gui.driver.Complete(1, static_cast<uint32_t>(form().AudioIn1().BufferSize()));
  Gui::Pump();
  // Every byte 0x00: silence; the second buffer's bytes are 0x01: samples of 257 (-42 dBFS).
  gui.driver.Complete(1, static_cast<uint32_t>(form().AudioIn1().BufferSize()));
  Gui::Pump();
  EXPECT_GT(form().FBVU->litCount(0), 0);
  EXPECT_EQ(form().FBVU->litCount(0), form().FBVU->litCount(1));
  EXPECT_EQ(form().Engine().State().CapInL[0], 257);
  gui.ClickStartStop();
  EXPECT_EQ(form().FBVU->litCount(0), 0);
}

TEST_F(RunControl, RapidStartStopEndsInAConsistentState) {
  gui.Start(ini);
  for (int i = 0; i < 60; ++i) {
    gui.ClickStartStop();
    if (i % 3 == 0) gui.driver.Complete(1);
    Gui::Pump();
  }
  EXPECT_EQ(gui.Caption(), "Start");
  EXPECT_FALSE(form().IsRunning());
  EXPECT_FALSE(form().AudioOut1().DeviceOpen());
  EXPECT_EQ(gui.driver.Count("open"), 30);
  EXPECT_EQ(gui.driver.Count("close"), 30);
  EXPECT_TRUE(gui.notices.empty());
}

TEST_F(RunControl, MetersAndScopeFollowTheRun) {
  gui.Start(ini);
  form().CBSR->setCurrentIndex(1);
  form().BMSEPD->setValue(75);
  gui.ClickStartStop();
  form().Timer1Timer();
  EXPECT_EQ(form().CLEDLabel1->text(), "75.0");  // the prefill's peak deviation
  const auto& captured = form().Scope()->Captures().CapOutI;
  EXPECT_TRUE(std::any_of(captured.begin(), captured.end(), [](float v) { return v != 0.0f; }));
  gui.ClickStartStop();
  // Stopped: the deviation reads 0.0 and the timer no longer refreshes the oscilloscope.
  form().Scope()->Captures().CapOutI.fill(0.0f);
  form().Timer1Timer();
  EXPECT_EQ(form().CLEDLabel1->text(), "0.0");
  EXPECT_TRUE(std::all_of(captured.begin(), captured.end(), [](float v) { return v == 0.0f; }));
}

TEST_F(RunControl, ScopeMenuOpensTheComplexSpectrumWithTheImageRejection) {
  gui.Start(ini);
  form().CBSR->setCurrentIndex(3);
  form().BMSEPD->setValue(1);
  form().BMSECF->setValue(12000);
  form().BMSEGO->setValue(0.92);
  form().BMSEPO->setValue(-31);
  gui.ClickStartStop();
  // A right click on the oscilloscope; the menu's one entry is chosen with the keyboard.
  QTimer::singleShot(0, [] {
    QWidget* menu = QApplication::activePopupWidget();
    ASSERT_NE(qobject_cast<QMenu*>(menu), nullptr);
    QTest::keyClick(menu, Qt::Key_Down);
    QTest::keyClick(menu, Qt::Key_Return);
  });
  QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(100, 100),
                          form().Scope()->mapToGlobal(QPoint(100, 100)));
  QApplication::sendEvent(form().Scope(), &click);
  ComplexSpectrumView* view = form().ComplexSpectrumWindow();
  ASSERT_NE(view, nullptr);
  EXPECT_TRUE(view->isVisible());
  form().Timer1Timer();
  // The carrier at -12 kHz of I + jQ; the image the calibration leaves 11.05 dB below it
  // (|1 + g e^{-jp}|^2 / |1 - g e^{jp}|^2 for g = 0.92, p = -31 deg), within 0.5 dB.
  ASSERT_TRUE(view->Spectrum().imageRejection_dB.has_value());
  EXPECT_NEAR(*view->Spectrum().carrier_Hz, -12000, 375);
  EXPECT_NEAR(*view->Spectrum().imageRejection_dB, 11.05, 0.5);
  EXPECT_TRUE(view->findChild<QLabel*>(QStringLiteral("ImageRejection"))
                  ->text()
                  .startsWith(QStringLiteral("Image rejection: 11.")));
  gui.ClickStartStop();
}

}  // namespace
}  // namespace kelvane::testing

namespace kelvane::testing {
namespace {

TEST_F(RunControl, PowerReadoutTurnsGreenWhenTheSixtiethSecondCompletes) {
  gui.Start(ini);
  form().CBSR->setCurrentIndex(1);  // 48000 Hz
  form().CBBL->setCurrentIndex(4);  // 65536 frames, 1.37 s per buffer
  gui.ClickStartStop();
  const EngineState& s = form().Engine().State();
  int buffers = 0;
  while (s.PmCount < 60) {
    ASSERT_EQ(form().CLEDPM->onColor(), QColor(255, 0, 0)) << s.PmCount << " s";
    EXPECT_EQ(form().CLEDPM->text(), form().Engine().PowerReadout().text);
    gui.driver.Complete(1);
    Gui::Pump();
    ASSERT_LT(++buffers, 60);
  }
  EXPECT_EQ(form().CLEDPM->onColor(), QColor(0, 255, 0));
  // A 10 kHz-peak sine at any rate: 20 log10(10 / 19) dB below the 19 kHz reference.
  EXPECT_EQ(form().CLEDPM->text(), "-5.6");
  gui.ClickStartStop();
  EXPECT_EQ(form().CLEDPM->onColor(), QColor(0, 255, 0));  // a stop keeps the reading
  form().ComboBox3->setCurrentIndex(-1);
  gui.ClickStartStop();
  EXPECT_EQ(form().CLEDPM->onColor(), QColor(255, 0, 0));
  EXPECT_EQ(form().CLEDPM->text(), "-90.0");
}

}  // namespace
}  // namespace kelvane::testing
