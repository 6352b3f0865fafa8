// SPDX-License-Identifier: GPL-3.0-or-later
// The "RDS and audio" dialog: its controls, all read from the programme table, and how they
// change the window's programme values.
#include "ProgrammeDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include "ControlLooks.h"
#include "Fonts.h"
#include "FormWidgets.h"
#include "GradBtn.h"
#include "MainWindow.h"
#include "ProgrammeTable.h"
#include "ProgrammeText.h"
#include "TextCodec.h"

namespace kelvane {

namespace {

constexpr int kFieldLeft = 150;  // controls right of their captions
constexpr int kFieldWidth = 280;
const QColor kInvalidText{255, 80, 80};

QString Text(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QString Caption(ProgrammeKey key) {
  return Text(ProgrammeInfo(key).caption);
}

// What a choice shows for `value`: its name, or for the programme type the code with both
// names, as receivers in Europe and in North America show them.
QString ChoiceText(const ProgrammeRow& row, int value) {
  const auto i = static_cast<std::size_t>(value);
  if (row.id == ProgrammeKey::RDSPTY) {
    return QStringLiteral("%1  %2 / %3")
        .arg(value)
        .arg(Text(kPtyNamesRds[i]), Text(kPtyNamesRbds[i]));
  }
  return Text(row.choices[i]);
}

}  // namespace

TFRDS::TFRDS(TForm1& form) : QDialog(&form), form_(form) {
  setObjectName(QStringLiteral("FRDS"));
  setWindowTitle(QStringLiteral("RDS and audio"));
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
  using P = ProgrammeSettings;
  GroupBox1 = group("GroupBox1", QStringLiteral("Audio"), 3, 68);
  CBEMPH = Choice(GroupBox1, "CBEMPH", ProgrammeKey::PreEmphasis, 18, 160, &P::preEmphasis);
  CBLOWPASS = Switch(GroupBox1, "CBLOWPASS", ProgrammeKey::AudioLowPass, 8, 44, &P::audioLowPass);
  // The file source's end, beside the other audio switch; it holds from the next Start.
  CBLOOP = MakeCheck<QCheckBox>(GroupBox1, "CBLOOP", Caption(ProgrammeKey::InputFileLoop),
                                kFieldLeft, 44);
  CBLOOP->setToolTip(Text(ProgrammeInfo(ProgrammeKey::InputFileLoop).help));
  connect(CBLOOP, &QCheckBox::toggled, this, [this](bool on) { form_.SetInputFileLoop(on); });
  showers_.push_back([this] { CBLOOP->setChecked(form_.InputFileLoop()); });

  GroupBox2 = group("GroupBox2", QStringLiteral("RDS"), 76, 188);
  CBPTY = Choice(GroupBox2, "CBPTY", ProgrammeKey::RDSPTY, 18, kFieldWidth, &P::pty);
  CBDI = Choice(GroupBox2, "CBDI", ProgrammeKey::RDSDI, 44, 200, &P::di);
  CBTP = Switch(GroupBox2, "CBTP", ProgrammeKey::RDSTP, 8, 72, &P::tp);
  CBTA = Switch(GroupBox2, "CBTA", ProgrammeKey::RDSTA, 158, 72, &P::ta);
  CBMS = Switch(GroupBox2, "CBMS", ProgrammeKey::RDSMS, 330, 72, &P::ms);

  const ProgrammeRow& rt = ProgrammeInfo(ProgrammeKey::RDSRT);
  MakeLabel(GroupBox2, Text(rt.caption), 8, 100);
  ERT = MakeEdit(GroupBox2, "ERT", kFieldLeft, 97, kFieldWidth, 19, rt.maxValue, QString(),
                 EditChars::Rds);
  connect(ERT, &QLineEdit::textChanged, this, [this](const QString& t) {
    // The validator lets only RDS characters in, so the conversion always succeeds.
    if (auto codes = RdsFromUtf8(t.toUtf8().toStdString())) form_.SetRTCodes(*codes);
  });
  showers_.push_back([this] {
    const QString shown = QString::fromStdString(Utf8FromRds(form_.RTCodes()));
    if (shown != ERT->text()) ERT->setText(shown);
  });

  const ProgrammeRow& af = ProgrammeInfo(ProgrammeKey::RDSAF);
  MakeLabel(GroupBox2, Text(af.caption), 8, 126);
  // Room for the longest list, with a blank after each comma.
  EAF = MakeEdit(GroupBox2, "EAF", kFieldLeft, 123, kFieldWidth, 19, af.maxValue * 8, QString());
  EAF->setToolTip(Text(af.help));
  validText_ = EAF->palette().color(QPalette::Text);
  LAFERR = MakeLabel(GroupBox2, QString(), kFieldLeft, 144);
  LAFERR->setObjectName(QStringLiteral("LAFERR"));
  QPalette epal = LAFERR->palette();
  epal.setColor(QPalette::WindowText, kInvalidText);
  LAFERR->setPalette(epal);
  LAFERR->setFixedWidth(kFieldWidth);
  connect(EAF, &QLineEdit::textChanged, this, &TFRDS::AfEdited);
  showers_.push_back([this] {
    // The text is rewritten only when it says another list, so a list typed with blanks
    // keeps them.
    ProgrammeSettings shown = form_.Programme();
    std::string why;
    if (ParseAfList(EAF->text().toStdString(), shown, why) && shown.af == form_.Programme().af &&
        shown.afCount == form_.Programme().afCount) {
      return;
    }
    EAF->setText(QString::fromStdString(FormatAfList(form_.Programme())));
  });

  CBCT = Switch(GroupBox2, "CBCT", ProgrammeKey::RDSCT, 8, 166, &P::ct);

  GBTN1 = new TGradBtn(this);
  GBTN1->setObjectName(QStringLiteral("GBTN1"));
  GBTN1->setFont(fonts::uiFont());
  looks::viewButton(GBTN1, true);
  GBTN1->setCaption(QStringLiteral("Close"));
  GBTN1->setGeometry((kClientWidth - 81) / 2, 272, 81, 36);
  connect(GBTN1, &TGradBtn::clicked, this, &QDialog::hide);

  ShowValues();
}

QCheckBox* TFRDS::Switch(QWidget* group, const char* name, ProgrammeKey key, int x, int y,
                         bool ProgrammeSettings::*member) {
  auto* box = MakeCheck<QCheckBox>(group, name, Caption(key), x, y);
  connect(box, &QCheckBox::toggled, this, [this, member](bool on) {
    ProgrammeSettings p = form_.Programme();
    p.*member = on;
    form_.SetProgramme(p);
  });
  showers_.push_back([this, box, member] { box->setChecked(form_.Programme().*member); });
  return box;
}

QComboBox* TFRDS::Choice(QWidget* group, const char* name, ProgrammeKey key, int y, int width,
                         int ProgrammeSettings::*member) {
  const ProgrammeRow& row = ProgrammeInfo(key);
  MakeLabel(group, Text(row.caption), 8, y + 3);
  QComboBox* box = MakeCombo(group, name, kFieldLeft, y, width);
  for (int v = row.minValue; v <= row.maxValue; ++v) box->addItem(ChoiceText(row, v));
  connect(box, &QComboBox::currentIndexChanged, this, [this, member, &row](int index) {
    if (index < 0) return;
    ProgrammeSettings p = form_.Programme();
    p.*member = row.minValue + index;
    form_.SetProgramme(p);
  });
  showers_.push_back([this, box, member, &row] {
    box->setCurrentIndex(form_.Programme().*member - row.minValue);
  });
  return box;
}

void TFRDS::AfEdited(const QString& text) {
  ProgrammeSettings p = form_.Programme();
  std::string why;
  const bool ok = ParseAfList(text.toStdString(), p, why);
  // Text that does not parse is shown in red with the reason and changes nothing.
  QPalette pal = EAF->palette();
  pal.setColor(QPalette::Text, ok ? validText_ : kInvalidText);
  EAF->setPalette(pal);
  LAFERR->setText(ok ? QString() : QString::fromStdString(why));
  if (ok) form_.SetProgramme(p);
}

void TFRDS::ShowValues() {
  for (const auto& show : showers_) show();
}

}  // namespace kelvane
