// SPDX-License-Identifier: GPL-3.0-or-later
// The window on the loopback SDR: the entry after the sound-card outputs, the "SDR output"
// dialog, the confirmation before transmitting, a run end to end and a device that fails.
#include <cstdlib>

#include "../remote/ScpiClient.h"
#include "GuiHarness.h"
#include "RemoteServer.h"
#include "SdrDialog.h"
#include "SdrDriver.h"

namespace kelvane::testing {
namespace {

void Enter(QLineEdit* edit, const QString& text) {
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Delete);
  QTest::keyClicks(edit, text);
  QTest::keyClick(edit, Qt::Key_Return);
}

std::size_t StoredSamples(const std::string& path) {
  return ReadFile(path).size() / 8;
}

TEST(SdrWindow, ChoosesConfirmsAndDrivesTheLoopbackDeviceAndOutlivesItsFailure) {
  ::setenv("SOAPY_SDR_PLUGIN_PATH", KELVANE_SOAPY_MODULES, 1);
  TempDir dir;
  Gui gui;
  sdr::SdrWaveDriver driver(gui.driver);  // two scripted sound-card outputs first
  gui.Start(dir / "vantorex.ini", &driver);
  TForm1& form = *gui.form;
  ASSERT_EQ(form.ComboBox3->count(), 3);
  EXPECT_EQ(form.ComboBox3->itemText(1), "Line out");
  EXPECT_EQ(form.ComboBox3->itemText(2), "SDR: Kelvane loopback");

  form.ComboBox3->setCurrentIndex(2);
  emit form.ComboBox3->activated(2);
  ASSERT_NE(form.SdrDialog(), nullptr);
  TFSDR& d = *form.SdrDialog();
  EXPECT_TRUE(d.isVisible());
  EXPECT_EQ(d.LDEVICE->text(), "SDR: Kelvane loopback");

  // No centre frequency: said, nothing starts.
  gui.ClickStartStop();
  ASSERT_EQ(gui.errors.size(), 1u);
  EXPECT_TRUE(gui.errors[0].contains("SdrFrequency")) << gui.errors[0].toStdString();
  EXPECT_EQ(gui.Caption(), "Start");

  const std::string tx = dir / "tx.cf32";
  Enter(d.EFREQ, "98.5M");
  Enter(d.EARGS, QString::fromStdString("file=" + tx));
  Enter(d.EGAIN, "99");   // outside the device's range, but inside the key's: taken
  Enter(d.EDELAY, "12");  // outside -8 .. 8: refused and said
  EXPECT_TRUE(d.LERR->text().contains("ChannelDelay=12: out of range"))
      << d.LERR->text().toStdString();
  EXPECT_EQ(form.Programme().channelDelay, 0);
  EXPECT_EQ(form.SdrSettings().frequency, "98500000");

  // Gain above 0 dB asks; the answer No sends nothing.
  gui.answer = false;
  gui.ClickStartStop();
  ASSERT_EQ(gui.questions.size(), 1u);
  EXPECT_TRUE(gui.questions[0].contains("99 dB TX gain")) << gui.questions[0].toStdString();
  EXPECT_EQ(gui.Caption(), "Start");
  EXPECT_EQ(StoredSamples(tx), 0u);

  // A gain the device refuses: the open fails with the device's own words.
  gui.answer = true;
  gui.ClickStartStop();
  Gui::Pump();
  ASSERT_FALSE(gui.notices.empty());
  EXPECT_TRUE(gui.notices.back().contains("SdrGain 99 dB is outside its range 0 .. 47 dB"))
      << gui.notices.back().toStdString();
  form.AudioStop();

  // At the device's minimum: asked once for the new device, then sent.
  Enter(d.EGAIN, "");
  const std::size_t asked = gui.questions.size();
  gui.ClickStartStop();
  EXPECT_EQ(gui.questions.size(), asked);  // the same device and arguments were agreed to
  EXPECT_EQ(gui.Caption(), "Stop");
  QTest::qWait(1200);
  d.ShowValues();
  EXPECT_TRUE(d.LDEVICE->text().startsWith(
      "Sending: Kelvane loopback: centre 98500000 Hz, 2000000 S/s, TX gain 0 dB"))
      << d.LDEVICE->text().toStdString();
  gui.ClickStartStop();
  EXPECT_EQ(gui.Caption(), "Start");
  EXPECT_GT(StoredSamples(tx), 2000000u);  // more than a second at 2 MS/s

  // A device that fails mid-stream: a notice within a second, and the window goes on.
  Enter(d.EARGS, QString::fromStdString("file=" + tx + ",fail=stream,after=0.3"));
  const std::size_t notices = gui.notices.size();
  gui.ClickStartStop();
  EXPECT_EQ(gui.questions.size(), asked + 1);  // other arguments: asked again
  for (int i = 0; i < 20 && gui.notices.size() == notices; ++i) QTest::qWait(100);
  ASSERT_GT(gui.notices.size(), notices);
  EXPECT_TRUE(gui.notices.back().contains(
      "The output device stopped: the SDR stopped taking samples: STREAM_ERROR"))
      << gui.notices.back().toStdString();
  form.AudioStop();
  form.ComboBox3->setCurrentIndex(0);  // back on the sound card, as before
  gui.ClickStartStop();
  EXPECT_EQ(gui.Caption(), "Stop");
  EXPECT_EQ(gui.driver.openedDevice, 0u);
  gui.ClickStartStop();
  // The link opens the dialog whatever the output: swap and delay are every output's.
  d.hide();
  Gui::Click(form.Label22);
  EXPECT_TRUE(d.isVisible());
  EXPECT_EQ(d.LDEVICE->text(), "No SDR is selected as the output device.");
  Gui::Click(d.CBSWAP);
  Enter(d.EDELAY, "-3");
  EXPECT_TRUE(form.Programme().iqSwap);
  EXPECT_EQ(form.Programme().channelDelay, -3);
}

// OUTPut ON from the remote control while the box that confirms transmitting is open (a nested
// event loop): another client's command waits, unanswered, and is answered after the box.
TEST(SdrWindow, RemoteStartAsksOnceAndTheServerIsNotEnteredWhileItAsks) {
  ::setenv("SOAPY_SDR_PLUGIN_PATH", KELVANE_SOAPY_MODULES, 1);
  TempDir dir;
  Gui gui;
  sdr::SdrWaveDriver driver(gui.driver);
  gui.Start(dir / "vantorex.ini", &driver);
  TForm1& form = *gui.form;
  form.ComboBox3->setCurrentIndex(2);
  emit form.ComboBox3->activated(2);
  ASSERT_NE(form.SdrDialog(), nullptr);
  Enter(form.SdrDialog()->EFREQ, "98.5M");
  Enter(form.SdrDialog()->EARGS, QString::fromStdString("file=" + (dir / "tx.cf32")));
  remote::ListenAddress address;
  address.port = 0;
  std::string error;
  ASSERT_TRUE(form.StartRemote(address, error)) << error;
  const auto pump = [] { QCoreApplication::processEvents(); };
  ScpiClient a(form.RemotePortListening(), pump), b(form.RemotePortListening(), pump);
  std::string duringBox;
  gui.whileAsking = [&] {
    b.Send("*IDN?");
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    while (std::chrono::steady_clock::now() < until) QCoreApplication::processEvents();
    char c = 0;
    duringBox = ::recv(b.Fd(), &c, 1, MSG_DONTWAIT | MSG_PEEK) > 0 ? "answered" : "waiting";
  };
  a.Send("OUTP ON");
  EXPECT_EQ(a.Query("OUTP?"), "1");
  EXPECT_EQ(gui.questions.size(), 1u);
  EXPECT_EQ(duringBox, "waiting");
  EXPECT_EQ(b.Line().substr(0, 8), "Kelvane,");
  form.AudioStop();
}

}  // namespace
}  // namespace kelvane::testing
