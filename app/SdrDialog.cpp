// SPDX-License-Identifier: GPL-3.0-or-later
// The "SDR output" dialog: fields from the programme table, taken through the strict settings
// rules, so the window, the settings file and the player accept the same values.
#include "SdrDialog.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

#include "ControlLooks.h"
#include "Fonts.h"
#include "FormWidgets.h"
#include "GradBtn.h"
#include "MainWindow.h"
#include "ProgrammeTable.h"
#include "SettingsFile.h"
#include "UserSetting.h"

namespace kelvane {

namespace {

constexpr int kFieldLeft = 150;
constexpr int kFieldWidth = 270;

QString Text(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace

TFSDR::TFSDR(TForm1& form) : QDialog(&form), form_(form) {
  setObjectName(QStringLiteral("FSDR"));
  setWindowTitle(QStringLiteral("SDR output"));
  setModal(false);
  setFont(fonts::uiFont());
  QPalette pal = palette();
  pal.setColor(QPalette::Window, kPanelColor);
  pal.setColor(QPalette::WindowText, Qt::white);
  setPalette(pal);
  setAutoFillBackground(true);
  setFixedSize(kClientWidth, kClientHeight);

  auto group = [this](const char* name, const QString& caption, int y, int h) {
    auto* g = new TGroupBox(this, caption, true);
    g->setObjectName(QString::fromLatin1(name));
    g->setGeometry(0, y, kClientWidth, h);
    return g;
  };
  GroupBox1 = group("GroupBox1", QStringLiteral("SDR transmitter"), 3, 176);
  LDEVICE = MakeLabel(GroupBox1, QString(), 8, 18);
  LDEVICE->setObjectName(QStringLiteral("LDEVICE"));
  LDEVICE->setFixedWidth(kClientWidth - 16);
  EARGS = Field(GroupBox1, "EARGS", ProgrammeKey::SdrArgs, 40);
  EFREQ = Field(GroupBox1, "EFREQ", ProgrammeKey::SdrFrequency, 64);
  ERATE = Field(GroupBox1, "ERATE", ProgrammeKey::SdrRate, 88);
  EGAIN = Field(GroupBox1, "EGAIN", ProgrammeKey::SdrGain, 112);
  EANT = Field(GroupBox1, "EANT", ProgrammeKey::SdrAntenna, 136);
  auto* warning = MakeLabel(GroupBox1,
                            QStringLiteral("Transmitting needs a licence, or a shielded, cabled "
                                           "set-up with attenuators."),
                            8, 158);
  warning->setFixedWidth(kClientWidth - 16);

  GroupBox2 = group("GroupBox2", QStringLiteral("Every output"), 184, 52);
  CBSWAP = MakeCheck<QCheckBox>(GroupBox2, "CBSWAP",
                                Text(ProgrammeInfo(ProgrammeKey::IQSwap).caption), 8, 22);
  CBSWAP->setToolTip(Text(ProgrammeInfo(ProgrammeKey::IQSwap).help));
  connect(CBSWAP, &QCheckBox::toggled, this, [this](bool on) {
    Edited(ProgrammeKey::IQSwap, on ? QStringLiteral("1") : QStringLiteral("0"));
  });
  showers_.push_back([this] { CBSWAP->setChecked(form_.Programme().iqSwap); });
  const ProgrammeRow& delay = ProgrammeInfo(ProgrammeKey::ChannelDelay);
  MakeLabel(GroupBox2, Text(delay.caption), 220, 24);
  EDELAY = MakeEdit(GroupBox2, "EDELAY", 340, 21, 60, 19, 3, QStringLiteral("0"));
  EDELAY->setToolTip(Text(delay.help));
  connect(EDELAY, &QLineEdit::editingFinished, this,
          [this] { Edited(ProgrammeKey::ChannelDelay, EDELAY->text()); });
  showers_.push_back([this] { EDELAY->setText(QString::number(form_.Programme().channelDelay)); });

  LERR = MakeLabel(this, QString(), 8, 242);
  LERR->setObjectName(QStringLiteral("LERR"));
  LERR->setFixedWidth(kClientWidth - 16);
  QPalette epal = LERR->palette();
  epal.setColor(QPalette::WindowText, QColor(255, 80, 80));
  LERR->setPalette(epal);

  GBTN1 = new TGradBtn(this);
  GBTN1->setObjectName(QStringLiteral("GBTN1"));
  GBTN1->setFont(fonts::uiFont());
  looks::viewButton(GBTN1, true);
  GBTN1->setCaption(QStringLiteral("Close"));
  GBTN1->setGeometry((kClientWidth - 81) / 2, 260, 81, 32);
  connect(GBTN1, &TGradBtn::clicked, this, &QDialog::hide);
  ShowValues();
}

QLineEdit* TFSDR::Field(QWidget* group, const char* name, ProgrammeKey key, int y) {
  const ProgrammeRow& row = ProgrammeInfo(key);
  QString caption = Text(row.caption);
  if (!row.unit.empty()) caption += QStringLiteral(" [%1]").arg(Text(row.unit));
  MakeLabel(group, caption, 8, y + 3);
  auto* edit = MakeEdit(group, name, kFieldLeft, y, kFieldWidth, 19, row.maxValue > 255 ? 255 : 64,
                        QString());
  edit->setToolTip(Text(row.help));
  connect(edit, &QLineEdit::editingFinished, this,
          [this, key, edit] { Edited(key, edit->text()); });
  showers_.push_back([this, key, edit] {
    const SettingsValues v = form_.CurrentSettingsValues();
    edit->setText(QString::fromStdString(SettingText(v, *FindSettingsKey(ProgrammeInfo(key).key))));
  });
  return edit;
}

void TFSDR::Edited(ProgrammeKey key, const QString& text) {
  SettingsValues v = form_.CurrentSettingsValues();
  const std::string typed = text.trimmed().toUtf8().toStdString();
  std::string error;
  if (!ApplyUserSettingValue(v, *FindSettingsKey(ProgrammeInfo(key).key), typed, error)) {
    LERR->setText(QString::fromStdString(error));
    return;
  }
  LERR->clear();
  form_.SetSdrSettings(v.sdr);
  form_.SetProgramme(v.programme);
}

void TFSDR::ShowValues() {
  LDEVICE->setText(form_.SdrStatusText());
  for (const auto& show : showers_) show();
}

}  // namespace kelvane
