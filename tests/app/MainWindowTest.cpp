// SPDX-License-Identifier: GPL-3.0-or-later
// The windows: layout and first-run values, settings load/save edge cases, links and dialog.
#include <QGuiApplication>
#include <QScreen>
#include <filesystem>
#include <map>

#include "CLEDLbl.h"
#include "FormWidgets.h"
#include "GuiHarness.h"
#include "IniFile.h"
#include "KelvaneVersion.h"
#include "ScopeView.h"
#include "WindowPlacement.h"

namespace kelvane::testing {
namespace {

class Windows : public ::testing::Test {
 protected:
  TempDir dir;
  std::string ini = dir / "vantorex.ini";
  Gui gui;

  void StartWith(const std::string& content) {
    WriteFile(ini, content);
    gui.Start(ini);
  }
  std::string Saved(const std::string& key) {
    IniFile f;
    f.Load(ini);
    return f.Get("General", key).value_or("<missing>");
  }
  TForm1& form() { return *gui.form; }
};

QRect GeometryOf(QWidget* root, const char* name) {
  auto* w = root->findChild<QWidget*>(QString::fromLatin1(name));
  return w != nullptr ? w->geometry() : QRect();
}

TEST_F(Windows, LayoutOfTheMainWindowAndTheDialog) {
  gui.Start(ini);
  EXPECT_EQ(form().windowTitle(), "FM modulator with I-Q output - Kelvane");
  EXPECT_EQ(form().size(), QSize(728, 528));
  EXPECT_EQ(form().minimumSize(), form().maximumSize());
  EXPECT_FALSE(form().windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(form().windowFlags() & Qt::WindowMinimizeButtonHint);
  const std::map<std::string, QRect> main = {
      {"Panel1", {0, 0, 728, 289}},       {"GroupBox2", {1, 3, 296, 278}},
      {"GroupBox3", {24, 32, 265, 113}},  {"GroupBox4", {24, 168, 265, 105}},
      {"GroupBox14", {304, 3, 121, 190}}, {"GroupBox13", {304, 200, 121, 81}},
      {"GroupBox11", {432, 3, 289, 278}}, {"GroupBox12", {8, 112, 273, 161}},
      {"Bevel1", {144, 40, 121, 113}},    {"Panel2", {0, 289, 728, 239}},
      {"GroupBox5", {1, 1, 89, 232}},     {"GroupBox1", {96, 1, 457, 233}},
      {"PaintBox1", {1, 14, 367, 218}},   {"Panel5", {368, 14, 88, 218}},
      {"GroupBox7", {560, 1, 161, 192}},  {"GroupBox8", {8, 16, 145, 81}},
      {"Panel3", {8, 16, 129, 57}},       {"GroupBox6", {8, 104, 145, 81}},
      {"Panel4", {8, 16, 129, 57}},       {"GroupBox9", {560, 200, 161, 33}},
      {"EPI", {40, 142, 49, 19}},         {"EPS", {40, 163, 73, 19}},
      {"GBTNSS", {16, 24, 89, 41}},       {"FBVU", {8, 16, 73, 209}},
      {"GBTN1", {8, 32, 73, 25}},         {"GBTN2", {8, 64, 72, 25}},
      {"GradBtn1", {8, 96, 72, 25}},      {"GBTN3", {8, 128, 72, 25}},
      {"GradBtn2", {8, 160, 72, 25}},     {"Image1", {9, 198, 69, 14}},
      {"CLEDLabel1", {8, 4, 113, 49}},    {"CLEDPM", {8, 4, 113, 49}},
  };
  for (const auto& [name, rect] : main) {
    EXPECT_EQ(GeometryOf(form().Panel1->parentWidget(), name.c_str()), rect) << name;
  }
  EXPECT_EQ(form().Label19->pos(), QPoint(199, 0));
  EXPECT_EQ(form().Label18->pos(), QPoint(111, 0));
  EXPECT_EQ(form().Label14->pos(), QPoint(208, 0));
  EXPECT_EQ(form().RBSINE->pos(), QPoint(8, 16));
  EXPECT_EQ(form().RBEXT->pos(), QPoint(8, 152));
  EXPECT_EQ(form().CBDC->pos(), QPoint(144, 20));
  EXPECT_EQ(form().CBPREAMP->pos(), QPoint(8, 8));
  EXPECT_EQ(form().CBSR->geometry().topLeft(), QPoint(8, 32));
  EXPECT_EQ(form().CBSR->width(), 105);
  EXPECT_EQ(form().ComboBox3->geometry().topLeft(), QPoint(8, 32));
  EXPECT_EQ(form().ComboBox3->width(), 272);
  EXPECT_EQ(form().ComboBox5->width(), 248);
  EXPECT_EQ(form().Label13->text(), "1.0c");
  EXPECT_EQ(form().Label13->toolTip(), QStringLiteral("Kelvane ") + kProgramVersion);
  EXPECT_EQ(form().Image1->pixmap().size(), QSize(69, 14));
  EXPECT_EQ(form().Scope()->size(), QSize(367, 218));

  // Spinners against the figures of the window design: group, place, range, step, format.
  struct Figures {
    TBMSpinEdit* spinner;
    const char* name;
    const char* group;
    QRect place;
    double min, max, increment;
    int precision;
    const char* unit;
  };
  TFCFG& d = *gui.dialog;
  const Figures rows[] = {
      {form().BMSEPD, "BMSEPD", "GroupBox3", {8, 24, 249, 28}, 0, 150, 0.1, 1, "kHz"},
      {form().BMSEMF, "BMSEMF", "GroupBox3", {8, 80, 249, 28}, 0, 60000, 1, 0, "Hz"},
      {form().BMSECF, "BMSECF", "GroupBox11", {8, 76, 273, 28}, -30000, 30000, 1, 0, "Hz"},
      {form().BMSEGO, "BMSEGO", "GroupBox12", {8, 80, 121, 28}, 0.5, 2, 0.01, 2, ""},
      {form().BMSEDCOL, "BMSEDCOL", "GroupBox12", {152, 64, 105, 28}, 10, 90, 0.01, 2, "% of FS"},
      {form().BMSEDCOR, "BMSEDCOR", "GroupBox12", {152, 112, 105, 28}, 10, 90, 0.01, 2, "% of FS"},
      {d.BMSEPD, "BMSEPD", "GroupBox14", {8, 96, 121, 28}, 4000, 10000, 10, 0, "Hz"},
      {d.BMSELR, "BMSELR", "GroupBox2", {16, 40, 129, 28}, 0, 150, 0.1, 1, "%"},
      {d.BMSEDELAY, "BMSEDELAY", "GroupBox3", {8, 72, 121, 28}, 0, 20, 1, 0, "smp"},
  };
  for (const Figures& f : rows) {
    TBMSpinEdit* s = f.spinner;
    ASSERT_NE(s, nullptr) << f.name;
    EXPECT_EQ(s->objectName(), f.name);
    EXPECT_EQ(s->parentWidget()->objectName(), f.group) << f.name;
    EXPECT_EQ(s->geometry(), f.place) << f.name;
    EXPECT_EQ(s->minValue(), f.min) << f.name;
    EXPECT_EQ(s->maxValue(), f.max) << f.name;
    EXPECT_EQ(s->increment(), f.increment) << f.name;
    EXPECT_EQ(s->precision(), f.precision) << f.name;
    EXPECT_EQ(s->valueUnit(), f.unit) << f.name;
    EXPECT_FALSE(s->editorEnabled()) << f.name;
  }
  // Nine spinners in the window and eight in the dialog (which is the window's child).
  int inWindow = 0;
  for (TBMSpinEdit* s : form().findChildren<TBMSpinEdit*>()) inWindow += s->window() == &form();
  EXPECT_EQ(inWindow, 9);
  EXPECT_EQ(d.findChildren<TBMSpinEdit*>().size(), 8);
  EXPECT_EQ(gui.dialog->Spinner(ParamId::SinePeakDev), nullptr);
  EXPECT_EQ(gui.dialog->BMSELR->guageEndColor(), QColor(0, 128, 0));

  EXPECT_EQ(gui.dialog->windowTitle(), "Advanced Settings");
  EXPECT_FALSE(gui.dialog->isModal());
  const std::map<std::string, QRect> dlg = {
      {"GroupBox14", {0, 3, 145, 142}},  {"GroupBox1", {152, 3, 145, 142}},
      {"GroupBox2", {-4, 152, 301, 81}}, {"GroupBox3", {304, 3, 145, 230}},
      {"GBTN1", {184, 240, 81, 49}},
  };
  for (const auto& [name, rect] : dlg) EXPECT_EQ(GeometryOf(gui.dialog, name.c_str()), rect);
  EXPECT_EQ(gui.dialog->CBMULTI->pos(), QPoint(8, 24));
  EXPECT_EQ(gui.dialog->Label9->text(), "1 smp = 2.6 us = 0.8 km");
  EXPECT_EQ(gui.dialog->GBTN1->caption(), "Close");
}

TEST_F(Windows, FirstRunShowsTheKeyTableDefaultsAndDoesNotStream) {
  gui.Start(ini);  // no file
  const std::vector<std::pair<TBMSpinEdit*, double>> firstRun = {
      {form().BMSEPD, 10},         {form().BMSEMF, 1000},      {form().BMSEMS, 1},
      {form().BMSECF, 0},          {form().BMSESWING, 10},     {form().BMSEGO, 1},
      {form().BMSEPO, 0},          {form().BMSEDCOL, 50},      {form().BMSEDCOR, 50},
      {gui.dialog->BMSEPF, 19000}, {gui.dialog->BMSEPD, 6800}, {gui.dialog->BMSERP, 0},
      {gui.dialog->BMSERD, 2700},  {gui.dialog->BMSELR, 100},  {gui.dialog->BMSEPH, 0},
      {gui.dialog->BMSEDELAY, 0},  {gui.dialog->BMSEPOW, 50},
  };
  for (const auto& [spinner, value] : firstRun) {
    EXPECT_EQ(spinner->value(), value) << spinner->objectName().toStdString();
  }
  EXPECT_EQ(form().BMSEGO->text(), "1.00");
  EXPECT_EQ(form().BMSEPO->text(), "0.0 deg.");
  EXPECT_EQ(form().BMSEDCOL->value(), 50);
  EXPECT_EQ(form().BMSEDCOR->value(), 50);
  EXPECT_EQ(form().pos(), QPoint(100, 10));
  EXPECT_EQ(form().ComboBox5->currentIndex(), 0);
  EXPECT_EQ(form().ComboBox3->currentIndex(), 0);
  EXPECT_EQ(form().ComboBox3->currentText(), "Speakers");
  EXPECT_TRUE(form().RBSINE->isChecked());
  EXPECT_FALSE(form().RBEXT->isChecked());
  EXPECT_FALSE(form().CBSTEREO->isChecked());
  EXPECT_FALSE(form().CBRDS->isChecked());
  EXPECT_FALSE(form().CBDC->isChecked());
  EXPECT_FALSE(form().CBPREAMP->isChecked());
  EXPECT_FALSE(gui.dialog->CBMULTI->isChecked());
  EXPECT_EQ(form().Scope()->ScopeFunc(), 3);
  EXPECT_EQ(form().CBSR->currentText(), "192000");
  EXPECT_EQ(form().CBBL->currentText(), "250 ms");
  EXPECT_EQ(form().EPI->text(), "FFFF");
  EXPECT_EQ(form().EPS->text(), "PS Name");
  EXPECT_EQ(form().CLEDLabel1->text(), "0.0");
  EXPECT_EQ(form().CLEDPM->text(), "-90.0");
  EXPECT_EQ(form().CLEDPM->onColor(), QColor(255, 0, 0));
  EXPECT_EQ(gui.Caption(), "Start");
  EXPECT_FALSE(form().IsRunning());
  EXPECT_EQ(gui.driver.Count("open"), 0);
  EXPECT_FALSE(gui.dialog->isVisible());
}

TEST_F(Windows, DeviceChosenByNameThenByStoredIndex) {
  // The name wins, compared with a-z folded; the stored index is only the fallback.
  StartWith(
      "[General]\nAudioOutDevice=0\nAudioOutDeviceName=LINE out\nAudioInDevice=3\n"
      "AudioInDeviceName=Gone\n");
  EXPECT_EQ(form().ComboBox3->currentIndex(), 1);
  EXPECT_EQ(form().ComboBox5->currentIndex(), -1);  // index 3 of a one-entry list
  form().close();
  // No input selection: both input keys stay as the file had them.
  EXPECT_EQ(Saved("AudioInDevice"), "3");
  EXPECT_EQ(Saved("AudioInDeviceName"), "Gone");
  EXPECT_EQ(Saved("AudioOutDevice"), "1");
  EXPECT_EQ(Saved("AudioOutDeviceName"), "Line out");
}

TEST_F(Windows, MissingNameFallsBackToTheStoredIndex) {
  StartWith("[General]\nAudioOutDevice=1\nAudioOutDeviceName=USB headset\n");
  EXPECT_EQ(form().ComboBox3->currentIndex(), 1);
}

TEST_F(Windows, IndexOutsideTheListsTakesTheFirstRunValueAndKeepsTheRest) {
  StartWith("[General]\nSamplingRate=7\nBufferLength=-1\nStereo=1\nSinePeakDev=33.3\n");
  EXPECT_EQ(form().CBSR->currentText(), "192000");
  EXPECT_EQ(form().CBBL->currentText(), "250 ms");
  EXPECT_TRUE(form().CBSTEREO->isChecked());
  EXPECT_EQ(form().BMSEPD->value(), 33.3);
  form().close();
  EXPECT_EQ(Saved("SamplingRate"), "3");
  EXPECT_EQ(Saved("BufferLength"), "2");
}

TEST_F(Windows, TopBeyondTheScreenPutsTheBottomEdgeOnTheScreenBottom) {
  StartWith("[General]\nTop=5000\nLeft=-30\n");
  const int screenHeight = QGuiApplication::primaryScreen()->geometry().height();
  EXPECT_EQ(form().frameGeometry().bottom() + 1, screenHeight);
  EXPECT_EQ(form().pos().x(), -30);  // a negative edge stays as read
}

TEST_F(Windows, WindowFromAMonitorThatIsGoneOpensOnTheScreenAndIsSavedThere) {
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  for (const char* edges : {"Left=5000\nTop=4000", "Left=-5000\nTop=-4000", "Left=-900\nTop=50"}) {
    SCOPED_TRACE(edges);
    StartWith(std::string("[General]\n") + edges + "\n");
    EXPECT_TRUE(screen.contains(form().frameGeometry())) << form().frameGeometry().x();
    const QPoint shown = form().pos();
    form().close();
    EXPECT_EQ(Saved("Left"), std::to_string(shown.x()));
    EXPECT_EQ(Saved("Top"), std::to_string(shown.y()));
    gui.form.reset();
  }
}

TEST(WindowPlacement, NearestScreenOnlyForAWindowOutOfSight) {
  const QRect primary(0, 0, 1920, 1080);
  const QRect left(-1280, 0, 1280, 1024);
  const QSize frame(730, 551);
  // The bottom (right) edge meets the primary screen's when top (left) is within 20 pixels of
  // its height (width) or beyond.
  EXPECT_EQ(PlaceWindow({100, 1061}, frame, primary, {primary}), QPoint(100, 1080 - 551));
  EXPECT_EQ(PlaceWindow({1901, 10}, frame, primary, {primary}), QPoint(1920 - 730, 10));
  // A window partly on some screen stays where it was.
  EXPECT_EQ(PlaceWindow({-1000, 100}, frame, primary, {primary, left}), QPoint(-1000, 100));
  EXPECT_EQ(PlaceWindow({-710, -531}, frame, primary, {primary}), QPoint(-710, -531));
  // Out of sight: wholly onto the nearest screen.
  EXPECT_EQ(PlaceWindow({-711, 100}, frame, primary, {primary}), QPoint(0, 100));
  EXPECT_EQ(PlaceWindow({-1000, 100}, frame, primary, {primary}), QPoint(0, 100));
  EXPECT_EQ(PlaceWindow({-3000, 600}, frame, primary, {primary, left}), QPoint(-1280, 1024 - 551));
  EXPECT_EQ(PlaceWindow({300, -2000}, frame, primary, {primary, left}), QPoint(300, 0));
}

TEST_F(Windows, OutOfRangeSwingIsShownAndSavedAsTheMaximum) {
  StartWith("[General]\nMaxOutputSwing=500\nPilotFrequency=1\n");
  EXPECT_EQ(form().BMSESWING->value(), 100);
  EXPECT_EQ(gui.dialog->BMSEPF->value(), 18980);
  form().close();
  EXPECT_EQ(Saved("MaxOutputSwing"), "100");
  EXPECT_EQ(Saved("PilotFrequency"), "18980");
}

TEST_F(Windows, HexadecimalRunningStartsStreamingAtCreation) {
  StartWith("[General]\nRunning=0x1\nAudioOutDeviceName=Speakers\n");
  EXPECT_TRUE(form().IsRunning());
  EXPECT_EQ(gui.Caption(), "Stop");
  EXPECT_EQ(gui.driver.Count("open"), 1);
  EXPECT_TRUE(form().AudioOut1().DeviceOpen());
}

TEST_F(Windows, ResumingWithASamplingRateOutsideTheListStartsAtTheFirstRunRate) {
  StartWith("[General]\nRunning=1\nSamplingRate=7\nAudioOutDeviceName=Speakers\n");
  EXPECT_TRUE(gui.errors.empty());
  EXPECT_EQ(gui.Caption(), "Stop");
  EXPECT_EQ(gui.driver.Count("open"), 1);
}

TEST_F(Windows, BothSourceKeysZeroLeaveBothOffAndStartUsesTheInput) {
  StartWith("[General]\nSineSource=0\nExtSource=0\n");
  EXPECT_FALSE(form().RBSINE->isChecked());
  EXPECT_FALSE(form().RBEXT->isChecked());
  gui.ClickStartStop();
  EXPECT_EQ(form().Engine().State().SourceMode, SourceInput);
  EXPECT_TRUE(form().AudioIn1().DeviceOpen());
  EXPECT_EQ(gui.driver.Count("start"), 1);
}

TEST_F(Windows, BothSourceKeysOneEndWithTheInputOnly) {
  StartWith("[General]\nSineSource=1\nExtSource=1\n");
  EXPECT_FALSE(form().RBSINE->isChecked());
  EXPECT_TRUE(form().RBEXT->isChecked());
}

TEST_F(Windows, DamagedFileGivesDefaults) {
  std::string junk = "[General]\nTop=\x01\x02zz\nSinePeakDev=abc\nRDSPI=";
  junk += std::string(5000, 'x');
  junk += "\n\0\0\xff\xfe[Gen\n=\n";
  StartWith(junk);
  EXPECT_EQ(form().BMSEPD->value(), 10);
  EXPECT_EQ(form().pos().y(), 10);
  EXPECT_EQ(form().EPI->text().size(), 2047);  // read as stored, cut like the profile reader
}

TEST_F(Windows, SettingsPathThatIsAFolderGivesDefaultsAndAFailedSave) {
  const std::string folder = dir / "folder.ini";
  std::filesystem::create_directory(folder);
  gui.Start(folder);
  EXPECT_EQ(form().BMSEMF->value(), 1000);
  form().close();
  ASSERT_EQ(gui.errors.size(), 1u);
  EXPECT_EQ(gui.errors[0], QString::fromStdString("Unable to write to " + folder + "."));
  EXPECT_TRUE(form().isVisible());
  EXPECT_TRUE(std::filesystem::is_directory(folder));
}

TEST_F(Windows, ValuesRoundTripThroughTheFile) {
  gui.Start(ini);
  form().BMSEMF->setValue(1234);
  form().CBSTEREO->setChecked(true);
  form().RBEXT->setChecked(true);
  form().CBBL->setCurrentIndex(4);
  form().EPS->setText(QStringLiteral("RADIO 1"));
  gui.dialog->CBMULTI->setChecked(true);
  gui.dialog->BMSEDELAY->setValue(7);
  // Typed but not yet taken when the window closes: saved as shown.
  gui.dialog->BMSEPD->selectAll();
  QTest::keyClicks(gui.dialog->BMSEPD, "7200");
  Gui::Click(form().GBTN1);  // view "Input"
  form().move(40, 50);
  form().close();
  EXPECT_EQ(Saved("PilotDeviation"), "7200");
  EXPECT_EQ(Saved("SineModFreq"), "1234");
  EXPECT_EQ(Saved("ExtSource"), "1");
  EXPECT_EQ(Saved("SineSource"), "0");
  EXPECT_EQ(Saved("ScopeFunc"), "1");
  EXPECT_EQ(Saved("Running"), "0");

  Gui again;
  again.Start(ini);
  EXPECT_EQ(again.form->BMSEMF->value(), 1234);
  EXPECT_TRUE(again.form->CBSTEREO->isChecked());
  EXPECT_TRUE(again.form->RBEXT->isChecked());
  EXPECT_EQ(again.form->CBBL->currentIndex(), 4);
  EXPECT_EQ(again.form->EPS->text(), "RADIO 1");
  EXPECT_TRUE(again.dialog->CBMULTI->isChecked());
  EXPECT_EQ(again.dialog->BMSEDELAY->value(), 7);
  EXPECT_EQ(again.form->Scope()->ScopeFunc(), 1);
  EXPECT_EQ(again.form->pos(), QPoint(40, 50));
}

TEST_F(Windows, ExitWithoutSavingLeavesTheFileByteForByte) {
  const std::string content =
      "; mine\r\n[General]\r\nTop=20\r\nSinePeakDev=12.5\r\nRunning=1\r\n[Other]\r\nx=1\r\n";
  StartWith(content);
  ASSERT_TRUE(form().IsRunning());
  form().BMSEPD->setValue(99);
  gui.answer = false;
  Gui::Click(form().Label18);
  ASSERT_EQ(gui.questions.size(), 1u);
  EXPECT_EQ(gui.questions[0], "Exit without saving?");
  EXPECT_TRUE(form().isVisible());
  EXPECT_TRUE(form().IsRunning());  // "No" changes nothing
  gui.answer = true;
  Gui::Click(form().Label18);
  EXPECT_FALSE(form().isVisible());
  EXPECT_FALSE(form().AudioOut1().DeviceOpen());
  EXPECT_EQ(ReadFile(ini), content);
}

TEST_F(Windows, ClosingWhileRunningSavesRunningAndTheNextStartResumes) {
  StartWith("[General]\nAudioOutDeviceName=Speakers\n");
  gui.ClickStartStop();
  ASSERT_TRUE(form().AudioOut1().DeviceOpen());
  form().close();
  EXPECT_EQ(Saved("Running"), "1");
  EXPECT_FALSE(form().AudioOut1().DeviceOpen());

  Gui next;
  next.Start(ini);
  EXPECT_TRUE(next.form->IsRunning());
  EXPECT_EQ(next.Caption(), "Stop");
  EXPECT_TRUE(next.form->AudioOut1().DeviceOpen());
}

TEST_F(Windows, FailedSaveShowsTheErrorAndKeepsTheWindowOpen) {
  WriteFile(dir / "plainfile", "x");
  const std::string bad = dir / "plainfile/vantorex.ini";
  gui.Start(bad);
  gui.ClickStartStop();
  form().close();
  ASSERT_EQ(gui.errors.size(), 1u);
  EXPECT_EQ(gui.errors[0], QString::fromStdString("Unable to write to " + bad + "."));
  EXPECT_TRUE(form().isVisible());
  EXPECT_TRUE(form().IsRunning());  // caption and flag stay until the user acts
  EXPECT_EQ(gui.Caption(), "Stop");
  EXPECT_TRUE(form().Engine().State().StopRequested);
  gui.ClickStartStop();
  EXPECT_EQ(gui.Caption(), "Start");
}

TEST_F(Windows, SetDefaultsAsksAndSetsExactlyTheFiveCalibrationSpinners) {
  gui.Start(ini);
  form().BMSESWING->setValue(55);
  form().BMSEGO->setValue(1.5);
  form().BMSEPO->setValue(-20);
  form().BMSEDCOL->setValue(30);
  form().BMSEDCOR->setValue(70);
  form().BMSECF->setValue(1000);
  form().CBDC->setChecked(true);
  gui.answer = false;
  Gui::Click(form().Label14);
  EXPECT_EQ(form().BMSESWING->value(), 55);
  gui.answer = true;
  Gui::Click(form().Label14);
  ASSERT_EQ(gui.questions.size(), 2u);
  EXPECT_EQ(gui.questions[1], "Set calibration data to defaults?");
  EXPECT_EQ(form().BMSESWING->value(), 10);
  EXPECT_EQ(form().BMSEGO->value(), 1);
  EXPECT_EQ(form().BMSEPO->value(), 0);
  EXPECT_EQ(form().BMSEDCOL->value(), 50);
  EXPECT_EQ(form().BMSEDCOR->value(), 50);
  EXPECT_EQ(form().BMSECF->value(), 1000);
  EXPECT_TRUE(form().CBDC->isChecked());
}

TEST_F(Windows, AdvancedSettingsLinkTogglesTheDialogWhichOnlyHides) {
  gui.Start(ini);
  QPointer<TFCFG> dlg = gui.dialog;
  Gui::Click(form().Label19);
  EXPECT_TRUE(dlg->isVisible());
  Gui::Click(form().Label19);
  EXPECT_FALSE(dlg->isVisible());
  Gui::Click(form().Label19);
  dlg->BMSERD->setValue(3000);
  Gui::Click(dlg->GBTN1);  // "Close"
  EXPECT_FALSE(dlg->isVisible());
  Gui::Click(form().Label19);
  EXPECT_TRUE(dlg->isVisible());
  EXPECT_EQ(dlg->BMSERD->value(), 3000);
  dlg->close();  // the title bar's close box
  EXPECT_FALSE(dlg->isVisible());
  ASSERT_FALSE(dlg.isNull());
  EXPECT_TRUE(form().isVisible());
}

TEST_F(Windows, ViewButtonsSetScopeFuncOnly) {
  gui.Start(ini);
  const std::vector<std::pair<TGradBtn*, int>> buttons = {{form().GBTN1, 1},
                                                          {form().GBTN2, 2},
                                                          {form().GBTN3, 3},
                                                          {form().GradBtn1, 4},
                                                          {form().GradBtn2, 5}};
  for (const auto& [button, func] : buttons) {
    Gui::Click(button);
    EXPECT_EQ(form().Scope()->ScopeFunc(), func) << button->caption().toStdString();
  }
  EXPECT_EQ(gui.Caption(), "Start");
}

TEST_F(Windows, EngineReadsTheControlsOfBothWindows) {
  gui.Start(ini);
  form().BMSEPD->setValue(75);
  gui.dialog->BMSEPF->setValue(19010.5);
  form().CBSTEREO->setChecked(true);
  ControlSnapshot snap;
  form().ReadControls(snap);
  EXPECT_EQ(snap.params[ParamId::SinePeakDev], 75);
  EXPECT_EQ(snap.params[ParamId::PilotFrequency], 19010.5);
  EXPECT_EQ(snap.params[ParamId::PilotDeviation], 6800);
  EXPECT_TRUE(snap.stereo);
  EXPECT_FALSE(snap.rds);
  // The multipath switch acts at once; the RDS texts as typed, limited to 4 and 8 characters.
  EXPECT_FALSE(form().MultipathFlag().load());
  Gui::Click(gui.dialog->CBMULTI);
  EXPECT_TRUE(form().MultipathFlag().load());
  // PI takes hexadecimal digits only.
  form().EPI->clear();
  QTest::keyClicks(form().EPI, QStringLiteral("C2G 0x1-23"));
  EXPECT_EQ(form().EPI->text(), "C201");
  char pi[8] = {};
  EXPECT_EQ(form().ReadPIText(pi, sizeof pi), 4u);
  EXPECT_EQ(std::string(pi, 4), "C201");
  form().EPI->clear();
  QTest::keyClicks(form().EPI, QStringLiteral("zaF"));
  EXPECT_EQ(form().EPI->text(), "aF");
  form().EPS->clear();
  QTest::keyClicks(form().EPS, QStringLiteral("ABCDEFGHIJ"));
  EXPECT_EQ(form().EPS->text(), "ABCDEFGH");
  // A longer text set by the program stays; it can still be shortened. The engine never gets
  // more than eight characters of it, as RDS character codes.
  form().EPS->setText(QStringLiteral("0123456789"));
  char ps[16] = {};
  EXPECT_EQ(form().ReadPSText(ps, sizeof ps), 8u);
  EXPECT_EQ(std::string(ps, 8), "01234567");
  QTest::keyClick(form().EPS, Qt::Key_Backspace);
  EXPECT_EQ(form().EPS->text(), "012345678");
  form().EPS->setText(QStringLiteral("Caf\u00e9"));
  EXPECT_EQ(form().ReadPSText(ps, sizeof ps), 4u);
  EXPECT_EQ(std::string(ps, 4), "Caf\x82");
}

TEST_F(Windows, TextsReadApartAndSayWhatHolds) {
  StartWith("[General]\nSamplingRate=1\n");
  // One delay step is a sample at twice the chosen rate, and the note follows the choice.
  EXPECT_EQ(gui.dialog->Label9->text(), "1 smp = 10.4 us = 3.1 km");
  form().CBSR->setCurrentIndex(3);
  EXPECT_EQ(gui.dialog->Label9->text(), "1 smp = 2.6 us = 0.8 km");
  EXPECT_LE(gui.dialog->Label9->geometry().right(), gui.dialog->GroupBox3->width() - 2);

  // The two links on the calibration group's edge keep their places and texts, with a clear
  // gap between them.
  QLabel* exit = form().Label18;
  QLabel* defaults = form().Label14;
  EXPECT_EQ(exit->pos(), QPoint(111, 0));
  EXPECT_EQ(defaults->pos(), QPoint(208, 0));
  EXPECT_EQ(exit->text(), "Exit without saving");
  EXPECT_EQ(defaults->text(), "Set defaults");
  const int exitEnd = exit->x() + QFontMetrics(exit->font()).horizontalAdvance(exit->text());
  EXPECT_GE(defaults->x() - exitEnd, 12);
  EXPECT_LE(defaults->x() + QFontMetrics(defaults->font()).horizontalAdvance(defaults->text()),
            form().GroupBox12->width() - 2);

  // The I/Q convention, where the carrier offset is set.
  EXPECT_EQ(form().BMSECF->toolTip(),
            "A positive offset puts the carrier at a negative frequency of I + jQ (left + "
            "j\u00b7right): Q leads I. Swap the channels to see it at a positive frequency.");
}

}  // namespace
}  // namespace kelvane::testing
