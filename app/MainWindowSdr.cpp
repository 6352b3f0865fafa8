// SPDX-License-Identifier: GPL-3.0-or-later
// The window's SDR output: the dialog, the confirmation before transmitting, the read-back.
#include <QComboBox>
#include <QString>
#include <stdexcept>

#include "FormWidgets.h"
#include "MainWindow.h"
#include "SdrDialog.h"
#include "SdrDriver.h"

namespace kelvane {

sdr::SdrWaveDriver* TForm1::SdrDriver() {
  return dynamic_cast<sdr::SdrWaveDriver*>(&Driver());
}

void TForm1::BuildSdrLink() {
  // On the output group's edge, left of "RDS and audio". The dialog also holds the I/Q swap and
  // channel delay that every output has.
  auto* link = new TLinkLabel(GroupBox11, QStringLiteral("SDR output\u2026"));
  link->setObjectName(QStringLiteral("Label22"));
  link->move(Label20->x() - link->width() - 12, 0);
  FitLinkBefore(link, Label20->x(), 12);
  link->raise();
  Label22 = link;
  connect(link, &TLinkLabel::clicked, this, [this] { Guard([this] { OpenSdrDialog(); }); });
  connect(ComboBox3, &QComboBox::activated, this, [this](int index) {
    if (SdrDriver() != nullptr && SdrDriver()->IsSdr(index)) Guard([this] { OpenSdrDialog(); });
  });
}

void TForm1::OpenSdrDialog() {
  if (sdrDialog_ == nullptr) sdrDialog_ = new TFSDR(*this);
  sdrDialog_->ShowValues();
  sdrDialog_->show();
  sdrDialog_->raise();
  sdrDialog_->activateWindow();
}

QString TForm1::SdrStatusText() {
  sdr::SdrWaveDriver* driver = SdrDriver();
  const sdr::SdrDeviceInfo* info =
      driver != nullptr ? driver->Sdr(ComboBox3->currentIndex()) : nullptr;
  if (info == nullptr) return QStringLiteral("No SDR is selected as the output device.");
  QString text = QString::fromStdString(info->label);
  if (run_.Running() && audioOut1_.DeviceOpen()) {
    text = QStringLiteral("Sending: ") + QString::fromStdString(driver->LastReport().Text());
  }
  return text;
}

bool TForm1::PrepareSdrStart(int device) {
  sdr::SdrWaveDriver* driver = SdrDriver();
  const sdr::SdrDeviceInfo* info = driver != nullptr ? driver->Sdr(device) : nullptr;
  // Only a real sound card can sit behind a sound server worth watching.
  run_.SetServerWatch((options_.driver == nullptr || options_.driver == &DefaultWaveDriver()) &&
                      info == nullptr);
  if (info == nullptr) return true;
  sdr::SdrConfig config;
  std::string error;
  if (!sdr::ReadSdrConfig({sdr_.args, sdr_.frequency, sdr_.rate, sdr_.gain, sdr_.antenna}, config,
                          error)) {
    OpenSdrDialog();
    throw std::runtime_error(error);
  }
  // A new device, or gain above 0 dB, each start: the user says so before anything goes out.
  const std::string who = info->label + "\n" + sdr_.args;
  const bool loud = config.gain_dB && *config.gain_dB > 0.0;
  if (who != sdrConfirmed_ || loud) {
    const QString question =
        QStringLiteral(
            "Transmit on \"%1\" at %2 Hz%3? Transmitting needs a licence, or a "
            "shielded, cabled set-up with attenuators.")
            .arg(QString::fromStdString(info->label), QString::fromStdString(sdr_.frequency),
                 loud ? QStringLiteral(" with %1 dB TX gain").arg(QString::fromStdString(sdr_.gain))
                      : QString());
    if (!Confirm(question)) return false;
    sdrConfirmed_ = who;
  }
  driver->SetConfig(config);
  return true;
}

}  // namespace kelvane
