// SPDX-License-Identifier: GPL-3.0-or-later
// The advanced settings dialog: its controls, and the loading of the settings at its creation.
#include "SettingsDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>

#include "BMSpinEdit.h"
#include "ControlLooks.h"
#include "Fonts.h"
#include "FormWidgets.h"
#include "GradBtn.h"
#include "MainWindow.h"
#include "RunRules.h"

namespace kelvane {

QString SampleStepText(int rateHz) {
  // One delay step is a sample at twice the rate; light covers 0.299792458 km per microsecond.
  const double us = 1e6 / (2.0 * rateHz);
  return QStringLiteral("1 smp = %1 us = %2 km")
      .arg(QString::number(us, 'f', 1), QString::number(us * 0.299792458, 'f', 1));
}

TFCFG::TFCFG(TForm1& form) : QDialog(&form), form_(form) {
  setObjectName(QStringLiteral("FCFG"));
  setWindowTitle(QStringLiteral("Advanced Settings"));
  setModal(false);
  setFont(fonts::uiFont());
  QPalette pal = palette();
  pal.setColor(QPalette::Window, kPanelColor);
  pal.setColor(QPalette::WindowText, Qt::white);
  setPalette(pal);
  setAutoFillBackground(true);
  resize(kClientWidth, kClientHeight);

  spinners_.assign(kParamCount, nullptr);
  auto group = [this](const char* name, const QString& caption, int x, int y, int w, int h) {
    auto* g = new TGroupBox(this, caption, true);
    g->setObjectName(QString::fromLatin1(name));
    g->setGeometry(x, y, w, h);
    return g;
  };
  auto keep = [this](ParamId id, TBMSpinEdit*& field, QWidget* parent) {
    field = MakeParamSpinner(parent, id);
    spinners_[static_cast<std::size_t>(id)] = field;
  };
  GroupBox14 = group("GroupBox14", QStringLiteral("Pilot tone"), 0, 3, 145, 142);
  GroupBox1 = group("GroupBox1", QStringLiteral("RDS"), 152, 3, 145, 142);
  GroupBox2 = group("GroupBox2", QStringLiteral("Stereo Encoder Corrections"), -4, 152, 301, 81);
  GroupBox3 = group("GroupBox3", QStringLiteral("Multipath Emulator"), 304, 3, 145, 230);
  keep(ParamId::PilotFrequency, BMSEPF, GroupBox14);
  keep(ParamId::PilotDeviation, BMSEPD, GroupBox14);
  keep(ParamId::RDSPhase, BMSERP, GroupBox1);
  keep(ParamId::RDSDeviation, BMSERD, GroupBox1);
  keep(ParamId::StereoEffect, BMSELR, GroupBox2);
  keep(ParamId::StereoPhase, BMSEPH, GroupBox2);
  BMSELR->setGuageEndColor(QColor(0, 128, 0));

  CBMULTI = new QCheckBox(QStringLiteral("Enable"), GroupBox3);
  CBMULTI->setObjectName(QStringLiteral("CBMULTI"));
  CBMULTI->setFont(fonts::uiFont());
  QPalette cpal = CBMULTI->palette();
  cpal.setColor(QPalette::WindowText, Qt::white);
  cpal.setColor(QPalette::Base, Qt::white);
  cpal.setColor(QPalette::Text, Qt::black);
  CBMULTI->setPalette(cpal);
  CBMULTI->adjustSize();
  CBMULTI->move(8, 24);
  keep(ParamId::MDelay, BMSEDELAY, GroupBox3);
  Label9 = MakeLabel(GroupBox3, SampleStepText(192000), 8, 104);
  Label9->setObjectName(QStringLiteral("Label9"));
  // The note follows the chosen rate (no choice keeps the last one).
  auto showStep = [this](int index) {
    const int rate = SamplingRateForIndex(index);
    if (rate <= 0) return;
    Label9->setText(SampleStepText(rate));
    Label9->adjustSize();
  };
  connect(form.CBSR, &QComboBox::currentIndexChanged, this, showStep);
  showStep(form.CBSR->currentIndex());
  keep(ParamId::MVoltage, BMSEPOW, GroupBox3);

  GBTN1 = new TGradBtn(this);
  GBTN1->setObjectName(QStringLiteral("GBTN1"));
  GBTN1->setFont(fonts::uiFont());
  looks::viewButton(GBTN1, true);
  GBTN1->setCaption(QStringLiteral("Close"));
  GBTN1->setGeometry(184, 240, 81, 49);
  connect(GBTN1, &TGradBtn::clicked, this, &QDialog::hide);
  // The engine reads the multipath switch at every sub-step, so the flag follows the box at once.
  connect(CBMULTI, &QCheckBox::toggled, this, [&form](bool on) { form.SetMultipath(on); });

  FormCreate(form);
}

TFCFG::~TFCFG() {
  if (form_.Dialog() == this) form_.AttachDialog(nullptr);
}

TBMSpinEdit* TFCFG::Spinner(ParamId id) const {
  return spinners_[static_cast<std::size_t>(id)];
}

void TFCFG::FormCreate(TForm1& form) {
  form.AttachDialog(this);
  form.LoadSettings();
  if (form.IsRunning()) form.Guard([&form] { form.AudioStart(); });
}

}  // namespace kelvane
