// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's settings: the file's values into the controls of both windows and back.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <cstdio>

#include "BMSpinEdit.h"
#include "MainWindow.h"
#include "ProgrammeDialog.h"
#include "ScopeView.h"
#include "SdrDialog.h"
#include "SettingsDialog.h"
#include "SettingsFile.h"
#include "TextCodec.h"

namespace kelvane {

void TForm1::LoadSettings() {
  SettingsLoadReport report;
  const SettingsValues v = LoadSettingsFile(settingsPath_, &report);
  // A file that cannot be read, or one the user named that is missing, is said on stderr; the
  // window then starts with the first-run values (a missing default file is a first run).
  if (report.status == SettingsLoadReport::Status::Unreadable ||
      (report.status == SettingsLoadReport::Status::Missing &&
       SettingsPathIsChosen(options_.settingsOption))) {
    std::fprintf(stderr, "kelvane: %s, using first-run values\n", report.message.c_str());
  }
  for (const std::string& w : report.warnings) std::fprintf(stderr, "kelvane: %s\n", w.c_str());
  ShowSettingsValues(v);
}

void TForm1::ShowSettingsValues(const SettingsValues& v) {
  // Keep the window reachable on the screen it opens on.
  storedPos_ = QPoint(v.left, v.top);
  Place();

  const int inDevice = ChooseDevice(inDevices_, v.audioInDeviceName, v.audioInDevice);
  ComboBox5->setCurrentIndex(inDevice);
  lastInDevice_ = lastInputIndex_ = inDevice;
  inputFileLoop_ = v.inputFileLoop;
  ShowInputFile(v);
  ComboBox3->setCurrentIndex(ChooseDevice(outDevices_, v.audioOutDeviceName, v.audioOutDevice));

  // Radio buttons of one group: turning one on turns the other off; both off is possible.
  RBSINE->setAutoExclusive(false);
  RBEXT->setAutoExclusive(false);
  RBSINE->setChecked(v.sineSource);
  if (v.sineSource) RBEXT->setChecked(false);
  RBEXT->setChecked(v.extSource);
  if (v.extSource) RBSINE->setChecked(false);
  RBSINE->setAutoExclusive(true);
  RBEXT->setAutoExclusive(true);

  isRunning_ = v.running;
  CBSTEREO->setChecked(v.stereo);
  CBRDS->setChecked(v.rds);
  CBDC->setChecked(v.dcCoupledDAC);
  CBPREAMP->setChecked(v.scopePreamp);
  paintBox1_->SetScopeFunc(v.scopeFunc);
  for (std::size_t i = 0; i < kParamCount; ++i) {
    const auto id = static_cast<ParamId>(i);
    TBMSpinEdit* s = EitherSpinner(id);
    if (s != nullptr) s->setValue(v.params[id]);
  }
  CBSR->setCurrentIndex(v.samplingRate >= 0 && v.samplingRate < CBSR->count() ? v.samplingRate
                                                                              : -1);
  CBBL->setCurrentIndex(v.bufferLength >= 0 && v.bufferLength < CBBL->count() ? v.bufferLength
                                                                              : -1);
  EPS->setText(QString::fromStdString(Utf8FromRds(v.rdsPS)));
  EPI->setText(QString::fromLatin1(v.rdsPI.c_str()));
  if (dialog_ != nullptr) dialog_->CBMULTI->setChecked(v.multipath);
  programme_ = v.programme;
  sdr_ = v.sdr;
  remotePort_ = v.remotePort;
  SetRTCodes(v.rdsRT);
  if (programmeDialog_ != nullptr) programmeDialog_->ShowValues();
  if (sdrDialog_ != nullptr) sdrDialog_->ShowValues();
}

SettingsValues TForm1::CurrentSettingsValues() const {
  SettingsValues v;
  v.top = pos().y();
  v.left = pos().x();
  v.audioInDevice = SavedInputDevice();
  v.audioInDeviceName =
      v.audioInDevice >= 0 ? ComboBox5->itemText(v.audioInDevice).toStdString() : "";
  v.audioOutDevice = ComboBox3->currentIndex();
  v.audioOutDeviceName = v.audioOutDevice >= 0 ? ComboBox3->currentText().toStdString() : "";
  v.sineSource = RBSINE->isChecked();
  v.extSource = RBEXT->isChecked();
  v.running = isRunning_;
  v.stereo = CBSTEREO->isChecked();
  v.rds = CBRDS->isChecked();
  v.dcCoupledDAC = CBDC->isChecked();
  v.scopePreamp = CBPREAMP->isChecked();
  v.scopeFunc = paintBox1_->ScopeFunc();
  for (std::size_t i = 0; i < kParamCount; ++i) {
    const auto id = static_cast<ParamId>(i);
    v.params[id] = ParamValue(id);
  }
  v.samplingRate = CBSR->currentIndex();
  v.bufferLength = CBBL->currentIndex();
  // The whole PS as shown; its characters are all RDS ones, but should one not be, the PS
  // being sent is kept.
  v.rdsPS = RdsFromUtf8(EPS->text().toUtf8().toStdString()).value_or(psText_);
  v.rdsPI = EPI->text().toLatin1().toStdString();
  v.multipath = dialog_ != nullptr && dialog_->CBMULTI->isChecked();
  v.programme = programme_;
  v.sdr = sdr_;
  v.rdsRT = rtCodes_;
  v.inputFile = inputFile_.toStdString();
  v.fileSource = InputFileSelected();
  v.inputFileLoop = inputFileLoop_;
  v.remotePort = remotePort_;
  return v;
}

bool TForm1::SaveSettings() {
  if (skipSave_) return true;
  const SettingsValues v = CurrentSettingsValues();
  const SaveResult r = SaveSettingsFile(settingsPath_, v);
  if (!r.ok) {
    if (closingOnSignal_) {
      // Nobody may be at the screen to answer a box: say it where the signal came from.
      std::fprintf(stderr, "kelvane: %s; the settings were not saved\n", r.error.c_str());
    } else if (options_.error) {
      options_.error(this, QString::fromStdString(r.error) + QLatin1Char('.'));
    } else {
      QMessageBox::critical(this, QStringLiteral("Error"),
                            QString::fromStdString(r.error) + QLatin1Char('.'));
    }
    return false;
  }
  return true;
}

}  // namespace kelvane
