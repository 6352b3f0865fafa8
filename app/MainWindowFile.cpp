// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's audio-file source: its entries in the input-device list, the choice of a
// file, and opening it for a run.
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QRadioButton>

#include "AudioFileReader.h"
#include "FileSource.h"
#include "MainWindow.h"
#include "RunRules.h"
#include "SettingsFile.h"

namespace kelvane {

namespace {

// Item data telling the two file entries from the devices.
constexpr int kEntryRole = Qt::UserRole + 1;
constexpr int kFileEntry = 1;      // the chosen file, shown by its name
constexpr int kChooserEntry = 2;   // "Audio file…", always the last entry
constexpr int kProbeRate = 48000;  // a rate to try a file at when none is selected

const QString kFilters =
    QStringLiteral("Audio files (*.wav *.flac *.ogg *.oga *.mp3 *.aif *.aiff);;All files (*)");

int EntryKind(const QComboBox* list, int index) {
  return index < 0 ? 0 : list->itemData(index, kEntryRole).toInt();
}

int FileEntryIndex(const QComboBox* list) {
  for (int i = 0; i < list->count(); ++i) {
    if (EntryKind(list, i) == kFileEntry) return i;
  }
  return -1;
}

// The reason as a sentence: one full stop at the end.
QString Sentence(const std::string& text) {
  QString s = QString::fromStdString(text);
  while (s.endsWith(QLatin1Char('.'))) s.chop(1);
  return s + QLatin1Char('.');
}

}  // namespace

void TForm1::AddInputFileEntries() {
  fileSource_ = std::make_unique<FileSource>();
  ComboBox5->addItem(QStringLiteral("Audio file\u2026"));
  ComboBox5->setItemData(ComboBox5->count() - 1, kChooserEntry, kEntryRole);
  ComboBox5->setItemData(ComboBox5->count() - 1,
                         QStringLiteral("Play an audio file through the sound-card input source"),
                         Qt::ToolTipRole);
  connect(ComboBox5, &QComboBox::activated, this,
          [this](int index) { Guard([this, index] { InputListActivated(index); }); });
  connect(ComboBox5, &QComboBox::currentIndexChanged, this, [this](int index) {
    const int kind = EntryKind(ComboBox5, index);
    if (kind != kChooserEntry) lastInputIndex_ = index;
    if (index >= 0 && kind == 0) lastInDevice_ = index;
  });
}

void TForm1::InputListActivated(int index) {
  if (EntryKind(ComboBox5, index) != kChooserEntry) return;
  const QString start = inputFile_.isEmpty() ? QString() : QFileInfo(inputFile_).absolutePath();
  const QString caption = QStringLiteral("Audio file");
  const QString path = options_.openFile
                           ? options_.openFile(this, caption, kFilters)
                           : QFileDialog::getOpenFileName(this, caption, start, kFilters);
  // Cancelled, or a file that cannot be played: the list shows what it showed before.
  if (path.isEmpty() || !ChooseInputFile(path)) ComboBox5->setCurrentIndex(lastInputIndex_);
}

bool TForm1::ChooseInputFile(const QString& path) {
  AudioFileReader probe;
  std::string error;
  const int rate = SamplingRateForIndex(CBSR->currentIndex());
  if (!probe.Open(path.toStdString(), rate > 0 ? rate : kProbeRate, error)) {
    ShowDeviceNotice(QStringLiteral("The audio file cannot be played: ") + Sentence(error));
    return false;
  }
  SettingsValues v;
  v.inputFile = path.toStdString();
  v.fileSource = true;
  ShowInputFile(v);
  return true;
}

void TForm1::ShowInputFile(const SettingsValues& v) {
  inputFile_ = QString::fromStdString(v.inputFile);
  int at = FileEntryIndex(ComboBox5);
  if (inputFile_.isEmpty()) {
    if (at >= 0) ComboBox5->removeItem(at);
    return;
  }
  if (at < 0) {
    at = ComboBox5->count() - 1;  // ahead of "Audio file…"
    ComboBox5->insertItem(at, QString());
    ComboBox5->setItemData(at, kFileEntry, kEntryRole);
  }
  ComboBox5->setItemText(at, QFileInfo(inputFile_).fileName());
  ComboBox5->setItemData(at, inputFile_, Qt::ToolTipRole);
  if (v.fileSource) ComboBox5->setCurrentIndex(at);
}

bool TForm1::InputFileSelected() const {
  return EntryKind(ComboBox5, ComboBox5->currentIndex()) == kFileEntry;
}

int TForm1::InputDeviceIndex() const {
  const int index = ComboBox5->currentIndex();
  return EntryKind(ComboBox5, index) == 0 ? index : -1;
}

int TForm1::SavedInputDevice() const {
  const int index = ComboBox5->currentIndex();
  // With the file selected, the device chosen before it stays in the file for the next time.
  if (index < 0) return -1;
  return EntryKind(ComboBox5, index) == 0 ? index : lastInDevice_;
}

FrameSource* TForm1::OpenInputFile(int samplingRateIndex) {
  fileErrorTold_ = false;
  const int rate = SamplingRateForIndex(samplingRateIndex);
  // Without a rate the start itself says what is wrong.
  if (rate <= 0) return fileSource_.get();
  std::string error;
  if (!fileSource_->Open(inputFile_.toStdString(), rate, inputFileLoop_, error)) {
    ShowDeviceNotice(QStringLiteral("The audio file cannot be played: ") + Sentence(error));
    return nullptr;
  }
  return fileSource_.get();
}

void TForm1::CheckInputFile() {
  if (fileErrorTold_ || !fileSource_->IsOpen()) return;
  const std::string error = fileSource_->Error();
  if (error.empty()) return;
  fileErrorTold_ = true;
  ShowDeviceNotice(
      QStringLiteral("The audio file could not be read to its end, silence follows: ") +
      Sentence(error));
}

}  // namespace kelvane
