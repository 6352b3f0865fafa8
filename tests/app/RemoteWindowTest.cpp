// SPDX-License-Identifier: GPL-3.0-or-later
// The real window driven over a socket: remote changes move its controls at once, a change
// in the window is what the next query returns, and OUTPut starts and stops the run.
#include <QCheckBox>
#include <QLineEdit>

#include "../remote/ScpiClient.h"
#include "CLEDLbl.h"
#include "GuiHarness.h"
#include "RemoteServer.h"

namespace kelvane::testing {
namespace {

TEST(RemoteWindow, CommandsMoveTheControlsAndTheWindowAnswersTheQueries) {
  TempDir dir;
  Gui gui;
  gui.Start(dir / "vantorex.ini");
  TForm1& form = *gui.form;
  remote::ListenAddress address;
  address.port = 0;
  std::string error;
  ASSERT_TRUE(form.StartRemote(address, error)) << error;
  ScpiClient c(form.RemotePortListening(), [] { QCoreApplication::processEvents(); });

  c.Send("SINE:PEAK:DEV 75;:CARR:FREQ -12.5KHZ;:STER ON;:RDS:PS 'BENCH';:PIL:DEV 7000");
  EXPECT_EQ(c.Query("*OPC?"), "1");
  EXPECT_EQ(form.BMSEPD->value(), 75.0);
  EXPECT_EQ(form.BMSECF->value(), -12500.0);
  EXPECT_TRUE(form.CBSTEREO->isChecked());
  EXPECT_EQ(form.EPS->text(), QStringLiteral("BENCH"));
  EXPECT_EQ(form.EitherSpinner(ParamId::PilotDeviation)->value(), 7000.0);
  c.Send("SINE:PEAK:DEV 150.1");
  EXPECT_EQ(c.Query("SYST:ERR?").substr(0, 5), "-222,");
  EXPECT_EQ(form.BMSEPD->value(), 75.0);

  // The user changes the window; the next query says so.
  form.BMSEPD->setValue(33.3);
  Gui::Click(form.CBSTEREO);
  EXPECT_EQ(c.Query("SINE:PEAK:DEV?;:STER?"), "33.3;0");

  // OUTPut is the Start/Stop button.
  c.Send("OUTP ON");
  EXPECT_EQ(c.Query("OUTP?;:SYST:ERR?"), "1;0,\"No error\"");
  EXPECT_TRUE(form.IsRunning());
  EXPECT_EQ(gui.Caption(), QStringLiteral("Stop"));
  form.Timer1Timer();
  EXPECT_EQ(c.Query("MEAS:DEV?"), form.CLEDLabel1->text().trimmed().toStdString());
  c.Send("OUTP OFF");
  EXPECT_EQ(c.Query("OUTP?"), "0");
  EXPECT_EQ(gui.Caption(), QStringLiteral("Start"));
  EXPECT_TRUE(gui.errors.empty() && gui.notices.empty());
}

}  // namespace
}  // namespace kelvane::testing
