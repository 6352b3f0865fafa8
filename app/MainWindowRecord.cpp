// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's recording of what it sends: the "Record…" link on the oscilloscope group's
// edge, the save dialog, the elapsed time and size while recording, and the stop.
#include <QFileDialog>
#include <QFileInfo>
#include <QTimer>
#include <memory>
#include <optional>

#include "ClockTime.h"
#include "FormWidgets.h"
#include "IqRecorder.h"
#include "KelvaneVersion.h"
#include "MainWindow.h"
#include "SettingsFile.h"

namespace kelvane {

namespace {

constexpr int kLinkInset = 8;    // from the group's right edge, as the other edge links
constexpr int kRefreshMs = 500;  // the elapsed time and size are shown twice a second

// The save dialog's filters: each names a container and the suffix a bare name gets.
struct RecordFilter {
  const char* filter;
  const char* format;  // as ChooseIqFormat takes it
  const char* suffix;
};
constexpr RecordFilter kRecordFilters[] = {
    {"WAV, 16-bit I/Q (*.wav)", "wav", "wav"},
    {"SigMF, ci16_le (*.sigmf-data)", "sigmf", "sigmf-data"},
    {"SigMF, cf32_le (*.sigmf-data)", "sigmf-cf32", "sigmf-data"},
    {"Raw ci16 (*.raw *.ci16 *.iq)", "raw", "raw"},
    {"Raw cf32 (*.cf32 *.cfile)", "cf32", "cf32"},
};

const RecordFilter& FilterNamed(const QString& name) {
  for (const RecordFilter& f : kRecordFilters) {
    if (name == QLatin1String(f.filter)) return f;
  }
  return kRecordFilters[0];
}

QString Elapsed(std::uint64_t seconds) {
  const auto h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
  return h > 0 ? QStringLiteral("%1:%2:%3")
                     .arg(h)
                     .arg(m, 2, 10, QLatin1Char('0'))
                     .arg(s, 2, 10, QLatin1Char('0'))
               : QStringLiteral("%1:%2").arg(m).arg(s, 2, 10, QLatin1Char('0'));
}

// A reason without its full stop, to go inside a sentence.
QString Reason(const std::string& text) {
  QString s = QString::fromStdString(text);
  while (s.endsWith(QLatin1Char('.'))) s.chop(1);
  return s;
}

QString Size(std::uint64_t bytes) {
  const double b = static_cast<double>(bytes);
  if (b < 1e6) return QStringLiteral("%1 kB").arg(b / 1e3, 0, 'f', 0);
  if (b < 1e9) return QStringLiteral("%1 MB").arg(b / 1e6, 0, 'f', 1);
  return QStringLiteral("%1 GB").arg(b / 1e9, 0, 'f', 2);
}

}  // namespace

void TForm1::BuildRecordLink() {
  auto* link = new TLinkLabel(GroupBox1, QStringLiteral("Record\u2026"));
  link->setObjectName(QStringLiteral("Label21"));
  link->move(GroupBox1->width() - link->width() - kLinkInset, 0);
  link->raise();
  Label21 = link;
  connect(link, &TLinkLabel::clicked, this, [this] { Label21Click(); });
  recordTimer_ = new QTimer(this);
  recordTimer_->setInterval(kRefreshMs);
  connect(recordTimer_, &QTimer::timeout, this, [this] { RecordTick(); });
}

void TForm1::Label21Click() {
  Guard([this] {
    if (Recording()) {
      StopRecording();
      return;
    }
    if (!isRunning_ || !audioOut1_.DeviceOpen()) {
      ShowDeviceNotice(
          QStringLiteral("Nothing is being sent: start the transmission, then record it."));
      return;
    }
    QString filters;
    for (const RecordFilter& f : kRecordFilters) {
      filters += (filters.isEmpty() ? QString() : QStringLiteral(";;")) + QLatin1String(f.filter);
    }
    QString chosen;
    const QString caption = QStringLiteral("Record what is being sent");
    const QString path = options_.saveFile ? options_.saveFile(this, caption, filters, &chosen)
                                           : QFileDialog::getSaveFileName(this, caption, QString(),
                                                                          filters, &chosen);
    if (!path.isEmpty()) StartRecording(path, chosen);
  });
}

bool TForm1::StartRecording(const QString& name, const QString& filter) {
  const RecordFilter& f = FilterNamed(filter);
  QString path = name;
  // A new name typed without a suffix gets the chosen container's (a device keeps its name).
  const QFileInfo info(path);
  if (!info.exists() && info.suffix().isEmpty()) path += QLatin1Char('.') + QLatin1String(f.suffix);
  std::string error;
  const std::optional<IqFormat> format = ChooseIqFormat(path.toStdString(), f.format, error);
  IqMetadata meta;
  meta.sampleRate = audioOut1_.FrameRate();
  // The first block recorded is the next one filled, heard after those queued ahead of it.
  meta.startUtc = NowUtc() + QueuedOutputSeconds();
  meta.recorder = std::string("kelvane ") + kProgramVersion;
  meta.description = "FM multiplex as complex baseband (I left, Q right) from Kelvane's window";
  const SettingsValues v = CurrentSettingsValues();
  for (const SettingsKey& key : SettingsKeys()) {
    meta.settings.emplace_back(std::string(key.name), SettingText(v, key));
  }
  auto recorder = std::make_unique<IqRecorder>();
  if (!format || !recorder->Start(path.toStdString(), *format, meta, error)) {
    ShowDeviceNotice(QStringLiteral("The recording could not start: %1.").arg(Reason(error)));
    return false;
  }
  recorder_ = std::move(recorder);
  recordRate_ = meta.sampleRate;
  run_.SetRecorder(recorder_.get());
  recordTimer_->start();
  RecordTick();
  return true;
}

void TForm1::RecordTick() {
  if (!recorder_) return;
  if (!recorder_->Recording()) {
    // Stopped by itself (a full disk, a disk too slow): the transmission goes on.
    StopRecording();
    return;
  }
  const std::uint64_t seconds = recorder_->FramesRecorded() / static_cast<unsigned>(recordRate_);
  Label21->setText(QStringLiteral("Stop recording %1 \u00b7 %2")
                       .arg(Elapsed(seconds), Size(recorder_->BytesWritten())));
  Label21->adjustSize();
  Label21->move(GroupBox1->width() - Label21->width() - kLinkInset, 0);
}

void TForm1::StopRecording() {
  if (!recorder_) return;
  run_.SetRecorder(nullptr);
  recordTimer_->stop();
  const std::string failure = recorder_->Failure();
  std::string error;
  const bool ok = recorder_->Stop(error);
  const std::uint64_t frames = recorder_->FramesRecorded();
  recorder_.reset();
  Label21->setText(QStringLiteral("Record\u2026"));
  Label21->adjustSize();
  Label21->move(GroupBox1->width() - Label21->width() - kLinkInset, 0);
  if (!failure.empty()) {
    ShowDeviceNotice(
        QStringLiteral("The recording stopped after %1 s: %2; the transmission goes on.")
            .arg(static_cast<double>(frames) / recordRate_, 0, 'f', 1)
            .arg(Reason(failure)));
  } else if (!ok) {
    ShowDeviceNotice(QStringLiteral("The recording failed: %1.").arg(Reason(error)));
  }
}

}  // namespace kelvane
