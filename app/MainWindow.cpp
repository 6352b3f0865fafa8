// SPDX-License-Identifier: GPL-3.0-or-later
// The main window: its controls, start-up and closing, settings, run control and read-outs.
#include "MainWindow.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "BMSpinEdit.h"
#include "CLEDLbl.h"
#include "ControlLooks.h"
#include "DeviceList.h"
#include "FBVUMeter.h"
#include "FileSource.h"
#include "Fonts.h"
#include "FormWidgets.h"
#include "GradBtn.h"
#include "IqRecorder.h"
#include "KelvaneVersion.h"
#include "ProgrammeDialog.h"
#include "RemoteLink.h"
#include "ScopeView.h"
#include "SdrDialog.h"
#include "SdrDriver.h"
#include "SettingsDialog.h"
#include "SettingsFile.h"
#include "Spectrum.h"
#include "TextCodec.h"
#include "WindowPlacement.h"
#include "kelvutil.h"

namespace kelvane {

namespace {

constexpr float kLevelFloor = 0.00001f;  // what the level bar shows while nothing is captured
constexpr int kLinkGap = 12;             // pixels between the texts of two neighbouring links
constexpr int kPsLength = 8;             // characters of the PS

}  // namespace

TForm1::TForm1(FormOptions options)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint),
      options_(std::move(options)),
      modulator_(*this),
      audioOut1_(options_.driver != nullptr ? options_.driver : &sdr::DefaultSdrDriver()),
      audioIn1_(options_.driver),
      run_(modulator_, audioOut1_, audioIn1_) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QString::fromLatin1(kCaption));
  setFixedSize(kClientWidth, kClientHeight);
  setFont(fonts::uiFont());
  BuildControls();
  FormCreate();
}

TForm1::~TForm1() {
  // The streams' devices read from our buffers: close them before anything else goes, and
  // stop watching their descriptors before the streams close them.
  Timer1->stop();
  remote_.reset();  // no command may reach a window being taken apart
  audioIn1_.Abort();
  audioOut1_.Abort();
  delete outNotifier_;
  delete inNotifier_;
  // The dialogs read and write this window's members: they go while those still exist.
  delete programmeDialog_;
  delete sdrDialog_;
  delete dialog_;
}

WaveDriver& TForm1::Driver() {
  return options_.driver != nullptr ? *options_.driver : sdr::DefaultSdrDriver();
}

void TForm1::BuildControls() {
  spinners_.assign(kParamCount, nullptr);
  auto keep = [this](ParamId id, TBMSpinEdit*& field, QWidget* group) {
    field = MakeParamSpinner(group, id);
    spinners_[static_cast<std::size_t>(id)] = field;
  };
  auto group = [](QWidget* parent, const char* name, const QString& caption, bool bold, int x,
                  int y, int w, int h) {
    auto* g = new TGroupBox(parent, caption, bold);
    g->setObjectName(QString::fromLatin1(name));
    g->setGeometry(x, y, w, h);
    return g;
  };
  auto panel = [](QWidget* parent, const char* name, const QString& caption, const QColor& colour,
                  TPanel::Bevel bevel, QRect r) {
    auto* p = new TPanel(parent, caption, colour, bevel);
    p->setObjectName(QString::fromLatin1(name));
    p->setGeometry(r);
    return p;
  };

  // Upper panel.
  Panel1 = panel(this, "Panel1", QStringLiteral("Kelvane"), kPanelColor,
                 TPanel::Bevel::LoweredOuter, QRect(0, 0, 728, 289));
  GroupBox2 = group(Panel1, "GroupBox2", QStringLiteral("Modulation Source"), true, 1, 3, 296, 278);
  GroupBox3 = group(GroupBox2, "GroupBox3", QString(), false, 24, 32, 265, 113);
  GroupBox4 = group(GroupBox2, "GroupBox4", QString(), false, 24, 168, 265, 105);
  GroupBox14 = group(Panel1, "GroupBox14", QStringLiteral("Options"), true, 304, 3, 121, 190);
  GroupBox13 = group(Panel1, "GroupBox13", QStringLiteral("Control"), true, 304, 200, 121, 81);
  GroupBox11 =
      group(Panel1, "GroupBox11", QStringLiteral("Output Settings"), true, 432, 3, 289, 278);
  GroupBox12 =
      group(GroupBox11, "GroupBox12", QStringLiteral("Calibration"), true, 8, 112, 273, 161);
  auto* bevel = new TBevel(GroupBox12);
  bevel->setObjectName(QStringLiteral("Bevel1"));
  bevel->setGeometry(144, 40, 121, 113);

  // Modulation source.
  auto* l19 = new TLinkLabel(GroupBox2, QStringLiteral("Advanced settings"));
  l19->setObjectName(QStringLiteral("Label19"));
  l19->move(199, 0);
  Label19 = l19;
  // The programme dialog's link sits at the right end of the output group's edge, clear of
  // every caption.
  auto* l20 = new TLinkLabel(GroupBox11, QStringLiteral("RDS and audio"));
  l20->setObjectName(QStringLiteral("Label20"));
  l20->move(GroupBox11->width() - l20->width() - 8, 0);
  Label20 = l20;
  RBSINE = MakeCheck<QRadioButton>(GroupBox2, "RBSINE", QStringLiteral("Sine wave:"), 8, 16);
  RBEXT = MakeCheck<QRadioButton>(GroupBox2, "RBEXT", QStringLiteral("Sound card input:"), 8, 152);
  RBSINE->setChecked(true);
  keep(ParamId::SinePeakDev, BMSEPD, GroupBox3);
  keep(ParamId::SineModFreq, BMSEMF, GroupBox3);
  MakeLabel(GroupBox4, QStringLiteral("Input device:"), 8, 8);
  ComboBox5 = MakeCombo(GroupBox4, "ComboBox5", 8, 24, 248);
  keep(ParamId::ExtModSens, BMSEMS, GroupBox4);

  // Options.
  MakeLabel(GroupBox14, QStringLiteral("Sampling rate:"), 8, 16);
  CBSR = MakeCombo(GroupBox14, "CBSR", 8, 32, 105);
  CBSR->addItems({QStringLiteral("44100"), QStringLiteral("48000"), QStringLiteral("96000"),
                  QStringLiteral("192000")});
  CBSR->setCurrentIndex(3);
  MakeLabel(GroupBox14, QStringLiteral("Buffer length:"), 8, 60);
  CBBL = MakeCombo(GroupBox14, "CBBL", 8, 76, 105);
  CBBL->addItems({QStringLiteral("50 ms"), QStringLiteral("100 ms"), QStringLiteral("250 ms"),
                  QStringLiteral("500 ms"), QStringLiteral("1 s")});
  CBBL->setCurrentIndex(2);
  CBSTEREO = MakeCheck<QCheckBox>(GroupBox14, "CBSTEREO", QStringLiteral("Stereo encoder"), 8, 104);
  CBRDS = MakeCheck<QCheckBox>(GroupBox14, "CBRDS", QStringLiteral("RDS encoder"), 8, 124);
  MakeLabel(GroupBox14, QStringLiteral("PI:"), 8, 145);
  EPI = MakeEdit(GroupBox14, "EPI", 40, 142, 49, 19, 4, QStringLiteral("FFFF"), EditChars::Hex);
  MakeLabel(GroupBox14, QStringLiteral("PS:"), 8, 166);
  EPS = MakeEdit(GroupBox14, "EPS", 40, 163, 73, 19, kPsLength, QStringLiteral("PS Name"),
                 EditChars::Rds);

  // Control.
  GBTNSS = new TGradBtn(GroupBox13);
  GBTNSS->setObjectName(QStringLiteral("GBTNSS"));
  GBTNSS->setFont(fonts::uiFont());
  looks::startButton(GBTNSS);
  GBTNSS->setCaption(QStringLiteral("Start"));
  GBTNSS->setGeometry(16, 24, 89, 41);

  // Output settings and calibration.
  MakeLabel(GroupBox11, QStringLiteral("Output device:"), 8, 16);
  ComboBox3 = MakeCombo(GroupBox11, "ComboBox3", 8, 32, 272);
  keep(ParamId::CarrierFreq, BMSECF, GroupBox11);
  // I = sin(phase), Q = sin(phase + 90 degrees) and the phase grows with a positive offset.
  BMSECF->setToolTip(QStringLiteral(
      "A positive offset puts the carrier at a negative frequency of I + jQ (left "
      "+ j·right): Q leads I. Swap the channels to see it at a positive frequency."));
  auto* l18 = new TLinkLabel(GroupBox12, QStringLiteral("Exit without saving"));
  l18->setObjectName(QStringLiteral("Label18"));
  l18->move(111, 0);
  Label18 = l18;
  auto* l14 = new TLinkLabel(GroupBox12, QStringLiteral("Set defaults"));
  l14->setObjectName(QStringLiteral("Label14"));
  l14->move(208, 0);
  Label14 = l14;
  FitLinkBefore(l18, l14->x(), kLinkGap);
  CBDC = MakeCheck<QCheckBox>(GroupBox12, "CBDC", QStringLiteral("DC coupled DAC"), 144, 20);
  keep(ParamId::MaxOutputSwing, BMSESWING, GroupBox12);
  keep(ParamId::LRGainRatio, BMSEGO, GroupBox12);
  keep(ParamId::LRPhaseOffset, BMSEPO, GroupBox12);
  keep(ParamId::DCOffsetL, BMSEDCOL, GroupBox12);
  keep(ParamId::DCOffsetR, BMSEDCOR, GroupBox12);
  bevel->lower();
  bevel->stackUnder(BMSEDCOL);

  // Lower panel.
  Panel2 = panel(this, "Panel2", QStringLiteral("Kelvane"), kPanelColor,
                 TPanel::Bevel::LoweredOuter, QRect(0, 289, 728, 239));
  GroupBox5 = group(Panel2, "GroupBox5", QStringLiteral("Input signal"), false, 1, 1, 89, 232);
  FBVU = new TFBVUMeter(GroupBox5);
  FBVU->setObjectName(QStringLiteral("FBVU"));
  looks::levelMeter(FBVU);
  FBVU->setGeometry(8, 16, 73, 209);

  GroupBox1 = group(Panel2, "GroupBox1", QStringLiteral("Oscilloscope"), false, 96, 1, 457, 233);
  const QRect client = GroupBox1->ClientRect();
  constexpr int kStrip = 88;
  paintBox1_ = new ScopeView(GroupBox1);
  paintBox1_->setObjectName(QStringLiteral("PaintBox1"));
  paintBox1_->setGeometry(client.left(), client.top(), client.width() - kStrip, client.height());
  AddScopeMenu();
  Panel5 = panel(GroupBox1, "Panel5", QString(), kPanelColor, TPanel::Bevel::None,
                 QRect(client.right() + 1 - kStrip, client.top(), kStrip, client.height()));
  CBPREAMP = MakeCheck<QCheckBox>(Panel5, "CBPREAMP", QStringLiteral("Preamp"), 8, 8);
  GBTN1 = MakeViewButton(Panel5, "GBTN1", QStringLiteral("Input"), 8, 32, 73, 25);
  GBTN2 = MakeViewButton(Panel5, "GBTN2", QStringLiteral("MPX"), 8, 64, 72, 25);
  GradBtn1 = MakeViewButton(Panel5, "GradBtn1", QStringLiteral("MPX FFT"), 8, 96, 72, 25);
  GBTN3 = MakeViewButton(Panel5, "GBTN3", QStringLiteral("Output"), 8, 128, 72, 25);
  GradBtn2 = MakeViewButton(Panel5, "GradBtn2", QStringLiteral("Output FFT"), 8, 160, 72, 25);
  Image1 = new QLabel(Panel5);
  Image1->setObjectName(QStringLiteral("Image1"));
  Image1->setPixmap(MakeLogo());
  Image1->setGeometry(9, 198, 69, 14);

  GroupBox7 = group(Panel2, "GroupBox7", QStringLiteral("Measurements"), false, 560, 1, 161, 192);
  GroupBox8 =
      group(GroupBox7, "GroupBox8", QStringLiteral("Peak Deviation [kHz]"), false, 8, 16, 145, 81);
  Panel3 = panel(GroupBox8, "Panel3", QString(), Qt::black, TPanel::Bevel::LoweredInner,
                 QRect(8, 16, 129, 57));
  CLEDLabel1 = new TCLEDLabel(Panel3);
  CLEDLabel1->setObjectName(QStringLiteral("CLEDLabel1"));
  looks::readout(CLEDLabel1, QColor(0, 255, 0));
  CLEDLabel1->setText(QStringLiteral("0.0"));
  CLEDLabel1->setGeometry(8, 4, 113, 49);
  GroupBox6 =
      group(GroupBox7, "GroupBox6", QStringLiteral("MPX Power [dBr]"), false, 8, 104, 145, 81);
  Panel4 = panel(GroupBox6, "Panel4", QString(), Qt::black, TPanel::Bevel::LoweredInner,
                 QRect(8, 16, 129, 57));
  CLEDPM = new TCLEDLabel(Panel4);
  CLEDPM->setObjectName(QStringLiteral("CLEDPM"));
  looks::readout(CLEDPM, QColor(255, 0, 0));
  CLEDPM->setText(QStringLiteral("-90.0"));
  CLEDPM->setGeometry(8, 4, 113, 49);
  GroupBox9 = group(Panel2, "GroupBox9", QStringLiteral("Version"), false, 560, 200, 161, 33);
  Label13 = new QLabel(QString::fromLatin1(kVersion), GroupBox9);
  // The label keeps the window's own text; the build's version is one hover away.
  Label13->setToolTip(QStringLiteral("Kelvane %1").arg(QString::fromLatin1(kProgramVersion)));
  Label13->setObjectName(QStringLiteral("Label13"));
  Label13->setFont(fonts::uiFont());
  Label13->setAlignment(Qt::AlignCenter);
  Label13->setGeometry(GroupBox9->ClientRect());

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(1000);
  BuildRecordLink();

  // Handlers.
  connect(GBTNSS, &TGradBtn::clicked, this, [this] { GBTNSSClick(); });
  connect(l14, &TLinkLabel::clicked, this, [this] { Label14Click(); });
  connect(l18, &TLinkLabel::clicked, this, [this] { Label18Click(); });
  connect(l19, &TLinkLabel::clicked, this, [this] { Label19Click(); });
  connect(l20, &TLinkLabel::clicked, this, [this] { Label20Click(); });
  auto* programmeKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_R), this);
  connect(programmeKey, &QShortcut::activated, this, [this] { Label20Click(); });
  connect(GBTN1, &TGradBtn::clicked, this, [this] { SetScopeFunc(ScopeInput); });
  connect(GBTN2, &TGradBtn::clicked, this, [this] { SetScopeFunc(ScopeMpx); });
  connect(GBTN3, &TGradBtn::clicked, this, [this] { SetScopeFunc(ScopeOutput); });
  connect(GradBtn1, &TGradBtn::clicked, this, [this] { SetScopeFunc(ScopeMpxFft); });
  connect(GradBtn2, &TGradBtn::clicked, this, [this] { SetScopeFunc(ScopeOutputFft); });
  connect(CBPREAMP, &QCheckBox::toggled, this, [this](bool on) {
    paintBox1_->SetPreamp(on);
    paintBox1_->update();
  });
  // The RDS texts are copied here, so that the engine reads them without allocating.
  connect(EPI, &QLineEdit::textChanged, this,
          [this](const QString& t) { piText_ = t.toLatin1().toStdString(); });
  // A longer PS loaded from the file is shown as read, but only its first eight characters
  // are ever sent, as RDS codes. The validator lets only RDS characters in; a text that still
  // has another one leaves the last PS that could be sent.
  connect(EPS, &QLineEdit::textChanged, this, [this](const QString& t) {
    const std::string utf8 = t.toUtf8().toStdString();
    if (auto codes = RdsFromUtf8(Utf8Prefix(utf8, kPsLength))) psText_ = *codes;
  });
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
}

void TForm1::FormCreate() {
  skipSave_ = false;
  // Qt widgets paint into a back buffer already, so the one-second repaints never flicker.
  paintBox1_->SetScopeFunc(ScopeOutput);
  // The engine state starts reset (phases, RDS counters, filter indexes) and the input sample
  // queue is allocated with it.
  (void)FftWindow();
  settingsPath_ = ResolveSettingsPath(options_.settingsOption);
  const auto slash = settingsPath_.find_last_of('/');
  settingsDir_ = slash == std::string::npos ? std::string() : settingsPath_.substr(0, slash + 1);
  try {
    GetWaveInDevices();
  } catch (...) {
  }
  AddInputFileEntries();
  try {
    GetWaveOutDevices();
  } catch (...) {
  }
  BuildSdrLink();

  // Only a real sound card can sit behind a sound server worth watching.
  run_.SetServerWatch(options_.driver == nullptr || options_.driver == &DefaultWaveDriver());
  run_.OnBlockFilled = [this] { ShowPower(); };
  run_.OnInputLevels = [this](float left, float right) { FBVU->SetLevels(left, right); };
  run_.OnDeviceLost = [this](const DeviceLostEvent& e) {
    ShowDeviceNotice(QStringLiteral("The %1 device stopped: %2.")
                         .arg(e.output ? QStringLiteral("output") : QStringLiteral("input"),
                              QString::fromStdString(e.errorText)));
  };
  // Device notices arrive on the streams' wake-up descriptors and are handled here, on the
  // window thread, between other events.
  outNotifier_ = new QSocketNotifier(audioOut1_.NoticeFd(), QSocketNotifier::Read, this);
  connect(outNotifier_, &QSocketNotifier::activated, this, [this] { ProcessOutNotices(); });
  inNotifier_ = new QSocketNotifier(audioIn1_.NoticeFd(), QSocketNotifier::Read, this);
  connect(inNotifier_, &QSocketNotifier::activated, this, [this] { ProcessInNotices(); });
  Timer1->start();
}

void TForm1::GetWaveInDevices() {
  inDevices_ = kelvane::GetWaveInDevices(Driver());
  for (const auto& name : inDevices_) ComboBox5->addItem(QString::fromStdString(name));
}

void TForm1::GetWaveOutDevices() {
  outDevices_ = kelvane::GetWaveOutDevices(Driver());
  for (const auto& name : outDevices_) ComboBox3->addItem(QString::fromStdString(name));
}

TBMSpinEdit* TForm1::Spinner(ParamId id) const {
  return spinners_[static_cast<std::size_t>(id)];
}

TBMSpinEdit* TForm1::EitherSpinner(ParamId id) const {
  if (TBMSpinEdit* s = Spinner(id)) return s;
  return dialog_ != nullptr ? dialog_->Spinner(id) : nullptr;
}

double TForm1::ParamValue(ParamId id) const {
  const TBMSpinEdit* s = EitherSpinner(id);
  return s != nullptr ? s->value() : ParamInfo(id).firstRun;
}

void TForm1::ProcessOutNotices() {
  audioOut1_.ProcessNotices();
  ShowPower();
}

void TForm1::ProcessInNotices() {
  audioIn1_.ProcessNotices();
}

void TForm1::ShowPower() {
  const MeterReadout& r = modulator_.PowerReadout();
  if (r.serial == powerSerial_) return;
  powerSerial_ = r.serial;
  CLEDPM->setText(QString::fromLatin1(r.text));
  CLEDPM->setOnColor(r.green ? QColor(0, 255, 0) : QColor(255, 0, 0));
}

void TForm1::SetScopeFunc(int f) {
  paintBox1_->SetScopeFunc(f);
  paintBox1_->update();
}

// ---- ControlSource ----

void TForm1::ReadControls(ControlSnapshot& out) {
  for (std::size_t i = 0; i < kParamCount; ++i) {
    const auto id = static_cast<ParamId>(i);
    out.params[id] = ParamValue(id);
  }
  out.stereo = CBSTEREO->isChecked();
  out.rds = CBRDS->isChecked();
  out.dcCoupled = CBDC->isChecked();
  out.programme = programme_;
  ReadClock(out);
}

namespace {
std::size_t CopyText(const std::string& text, char* out, std::size_t capacity) {
  std::memcpy(out, text.data(), std::min(text.size(), capacity));
  return text.size();
}
}  // namespace

std::size_t TForm1::ReadPIText(char* out, std::size_t capacity) {
  return CopyText(piText_, out, capacity);
}

std::size_t TForm1::ReadPSText(char* out, std::size_t capacity) {
  return CopyText(psText_, out, capacity);
}

// ---- Run control ----

void TForm1::AudioStart() {
  FBVU->SetLevels(kLevelFloor, kLevelFloor);
  RunSettings settings;
  settings.samplingRateIndex = CBSR->currentIndex();
  settings.bufferLengthIndex = CBBL->currentIndex();
  settings.sineSource = RBSINE->isChecked();
  settings.outputDevice = ComboBox3->currentIndex();
  settings.inputDevice = InputDeviceIndex();
  if (!run_.Running() && !PrepareSdrStart(settings.outputDevice)) return;
  if (!settings.sineSource && InputFileSelected() && !run_.Running()) {
    // A file that cannot be played is said, and nothing starts in its place.
    settings.fileSource = OpenInputFile(settings.samplingRateIndex);
    if (settings.fileSource == nullptr) {
      isRunning_ = false;
      return;
    }
  }
  const StartResult r = run_.Start(settings, [this](bool allowed) {
    if (allowed) {
      CBRDS->setEnabled(true);
    } else {
      CBRDS->setChecked(false);
      CBRDS->setEnabled(false);
    }
  });
  // The power read-out was cleared by the start, also when no block follows.
  ShowPower();
  if (!r.started) {
    if (settings.fileSource != nullptr) fileSource_->Close();
    // Shown like any error that escapes a handler; the caption stays "Start".
    throw std::runtime_error(r.error);
  }
  GBTNSS->setCaption(QStringLiteral("Stop"));
  isRunning_ = true;
  auto notice = [this](const DeviceOutcome& d, const char* kind, QComboBox* list) {
    if (!d.tried || d.opened) return;
    ShowDeviceNotice(QStringLiteral("The %1 device \"%2\" could not be opened: %3.")
                         .arg(QLatin1String(kind), list->itemText(d.device),
                              QString::fromStdString(d.errorText)));
  };
  notice(r.input, "input", ComboBox5);
  notice(r.output, "output", ComboBox3);
  if (!settings.sineSource && settings.inputDevice < 0 && settings.fileSource == nullptr) {
    // The run goes on (the carrier, pilot and RDS are still worth having), but not unsaid.
    ShowDeviceNotice(QStringLiteral(
        "No input device is selected: the sound-card source modulates the carrier with silence."));
  }
}

void TForm1::AudioStop() {
  run_.Stop();
  // What was recorded is kept; the file is read no further.
  StopRecording();
  fileSource_->Close();
  GBTNSS->setCaption(QStringLiteral("Start"));
  FBVU->SetLevels(kLevelFloor, kLevelFloor);
  isRunning_ = false;
}

void TForm1::ShowDeviceNotice(const QString& message) {
  lastNotice_ = message;
  if (options_.notice) {
    options_.notice(this, message);
    return;
  }
  // Not modal: the window stays usable and streaming decisions are the user's.
  if (noticeBox_ == nullptr) {
    noticeBox_ = new QMessageBox(QMessageBox::Warning, QStringLiteral("Kelvane"), message,
                                 QMessageBox::Ok, this);
    noticeBox_->setAttribute(Qt::WA_DeleteOnClose);
    noticeBox_->setModal(false);
  } else {
    noticeBox_->setText(message);
  }
  noticeBox_->show();
}

// ---- Handlers ----

void TForm1::Guard(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    const QString text = QString::fromStdString(e.what()) + QLatin1Char('.');
    if (options_.error) {
      options_.error(this, text);
    } else {
      QMessageBox::critical(this, QStringLiteral("Error"), text);
    }
  }
}

bool TForm1::Confirm(const QString& question) {
  if (options_.confirm) return options_.confirm(this, question);
  QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), question,
                  QMessageBox::Yes | QMessageBox::No, this);
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
}

void TForm1::GBTNSSClick() {
  Guard([this] {
    if (GBTNSS->caption() == QLatin1String("Start")) {
      AudioStart();
    } else {
      AudioStop();
    }
  });
}

void TForm1::Label14Click() {
  Guard([this] {
    if (!Confirm(QStringLiteral("Set calibration data to defaults?"))) return;
    BMSESWING->setValue(10);
    BMSEGO->setValue(1);
    BMSEPO->setValue(0);
    BMSEDCOL->setValue(50);
    BMSEDCOR->setValue(50);
  });
}

void TForm1::Label18Click() {
  Guard([this] {
    if (!Confirm(QStringLiteral("Exit without saving?"))) return;
    skipSave_ = true;
    close();
  });
}

void TForm1::Label19Click() {
  Guard([this] {
    if (dialog_ == nullptr) return;
    dialog_->setVisible(!dialog_->isVisible());
  });
}

void TForm1::Timer1Timer() {
  char text[16];
  modulator_.TakePeakDeviation(text, sizeof text);
  CLEDLabel1->setText(QString::fromLatin1(text));
  ShowPower();
  // A device that stalls without sending notices is found here.
  run_.CheckDevices();
  if (isRunning_) {
    const EngineState& s = modulator_.State();
    ScopeCaptures& c = paintBox1_->Captures();
    c.CapInL = s.CapInL;
    c.CapInR = s.CapInR;
    c.CapOutI = s.CapOutI;
    c.CapOutQ = s.CapOutQ;
    c.CapMpx = s.CapMpx;
    paintBox1_->update();
    FeedComplexSpectrum();
    CheckInputFile();
    for (const ServerProblem& p : run_.NewServerProblems()) {
      QString message = QString::fromStdString(p.text);
      message[0] = message[0].toUpper();
      ShowDeviceNotice(message + QLatin1Char('.'));
    }
  }
}

void TForm1::Place() {
  const QScreen* primary = QGuiApplication::primaryScreen();
  if (primary == nullptr) {
    move(*storedPos_);
    return;
  }
  std::vector<QRect> screens;
  for (const QScreen* s : QGuiApplication::screens()) screens.push_back(s->geometry());
  move(PlaceWindow(*storedPos_, frameGeometry().size(), primary->geometry(), screens));
}

void TForm1::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  // The frame's size is known only once the window is shown: place it again from the stored
  // edges, so that the whole window (frame included) meets the screen's edge.
  if (storedPos_) Place();
  storedPos_.reset();
}

void TForm1::CloseOnSignal() {
  closingOnSignal_ = true;
  close();
  closingOnSignal_ = false;
}

void TForm1::closeEvent(QCloseEvent* e) {
  modulator_.RequestStop();
  // What is typed in a spinner is what the user sees: save it, as leaving the field would.
  for (std::size_t i = 0; i < kParamCount; ++i) {
    if (TBMSpinEdit* s = EitherSpinner(static_cast<ParamId>(i))) s->commitTyping();
  }
  if (!SaveSettings()) {
    if (!closingOnSignal_) {
      // The error has been shown; the window stays open and the run state as it was.
      e->ignore();
      return;
    }
    // A signal must end the program: it ends with a failure status and the old file.
    exitStatus_ = 1;
  }
  AudioStop();
  if (dialog_ != nullptr) dialog_->hide();
  if (programmeDialog_ != nullptr) programmeDialog_->hide();
  e->accept();
}

}  // namespace kelvane
