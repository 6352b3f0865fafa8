// SPDX-License-Identifier: GPL-3.0-or-later
// kelvane-controls-gallery: builds each custom control as the two windows configure it and
// writes one PNG per control, so their look can be checked without the program.
#include <QApplication>
#include <QDir>
#include <QMouseEvent>
#include <QPixmap>
#include <cstdio>
#include <string_view>

#include "BMSpinEdit.h"
#include "CLEDLbl.h"
#include "ControlLooks.h"
#include "FBVUMeter.h"
#include "Fonts.h"
#include "GradBtn.h"
#include "ParamTable.h"

namespace {

QString fromView(std::string_view v) {
  return QString::fromUtf8(v.data(), static_cast<qsizetype>(v.size()));
}

// The picture name of a spinner: its control name, marked for the dialog when the main window
// has a control of the same name.
QString pictureName(const kelvane::ParamRow& r) {
  if (r.window == kelvane::ParamWindow::Dialog) {
    for (const kelvane::ParamRow& o : kelvane::kParamTable) {
      if (o.window == kelvane::ParamWindow::Main && o.control == r.control) {
        return fromView(r.control) + QStringLiteral("_dialog");
      }
    }
  }
  return fromView(r.control);
}

int failures = 0;

void save(QWidget* w, const QString& dir, const QString& name) {
  const QString path = dir + QLatin1Char('/') + name + QStringLiteral(".png");
  if (!w->grab().save(path)) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    ++failures;
    return;
  }
  std::printf("%s\n", qPrintable(path));
}

void sendMouse(QWidget* w, QEvent::Type type, QPoint pos) {
  const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
  QMouseEvent e(type, pos, w->mapToGlobal(pos), Qt::LeftButton, held, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

// A spinner configured from its row of the parameter table, at its first-run value.
TBMSpinEdit* makeSpinner(QWidget* host, kelvane::ParamId id) {
  const kelvane::ParamRow& r = kelvane::ParamInfo(id);
  auto* s = new TBMSpinEdit(host);
  kelvane::looks::spinner(s);
  s->setPrecision(r.precision);
  s->setValueUnit(fromView(r.unit));
  s->setMinValue(r.minValue);
  s->setMaxValue(r.maxValue);
  s->setIncrement(r.increment);
  s->setValue(r.firstRun);
  s->setGeometry(8, 8, r.width, 28);
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setFont(kelvane::fonts::uiFont());
  const QStringList args = QApplication::arguments();
  const int at = static_cast<int>(args.indexOf(QStringLiteral("--save")));
  if (at < 0 || at + 1 >= args.size()) {
    std::fprintf(stderr, "usage: kelvane-controls-gallery --save DIR\n");
    return 2;
  }
  const QString dir = args.at(at + 1);
  if (!QDir().mkpath(dir)) {
    std::fprintf(stderr, "cannot create %s\n", qPrintable(dir));
    return 1;
  }

  QWidget host;
  host.resize(420, 260);
  QPalette hp = host.palette();
  hp.setColor(QPalette::Window, kelvane::looks::kGroupBackground);
  hp.setColor(QPalette::WindowText, Qt::white);
  host.setPalette(hp);
  host.show();

  for (const kelvane::ParamRow& r : kelvane::kParamTable) {
    TBMSpinEdit* s = makeSpinner(&host, r.id);
    save(s, dir, QStringLiteral("spinner_%1").arg(pictureName(r)));
    delete s;
  }
  {
    // One-sided and two-sided bars away from the first-run values.
    TBMSpinEdit* s = makeSpinner(&host, kelvane::ParamId::SinePeakDev);
    s->setValue(75);
    save(s, dir, QStringLiteral("spinner_BMSEPD_at_75"));
    delete s;
    s = makeSpinner(&host, kelvane::ParamId::CarrierFreq);
    s->setValue(15000);
    save(s, dir, QStringLiteral("spinner_BMSECF_at_15000"));
    s->setValue(-22000);
    save(s, dir, QStringLiteral("spinner_BMSECF_at_-22000"));
    delete s;
    s = makeSpinner(&host, kelvane::ParamId::StereoEffect);
    s->setGuageEndColor(QColor(0, 128, 0));
    s->setValue(120);
    save(s, dir, QStringLiteral("spinner_BMSELR_green_at_120"));
    // The drop-down track bar while its button is held.
    QWidget* dd = s->dropDownButton();
    sendMouse(dd, QEvent::MouseButtonPress, QPoint(6, 6));
    QApplication::processEvents();
    save(s->popupForm(), dir, QStringLiteral("spinner_BMSELR_trackbar"));
    sendMouse(dd, QEvent::MouseButtonRelease, QPoint(6, 6));
    delete s;
  }

  const struct {
    const char* name;
    const char* text;
    QColor on;
  } readouts[] = {{"CLEDLabel1", "0.0", QColor(0, 255, 0)},
                  {"CLEDPM", "-90.0", QColor(255, 0, 0)},
                  {"CLEDLabel1_75.3", "75.3", QColor(0, 255, 0)},
                  {"CLEDPM_-1.2", "-1.2", QColor(255, 0, 0)}};
  for (const auto& r : readouts) {
    auto* l = new TCLEDLabel(&host);
    kelvane::looks::readout(l, r.on);
    l->setGeometry(8, 4, 113, 49);
    l->setText(QString::fromLatin1(r.text));
    save(l, dir, QStringLiteral("readout_%1").arg(QString::fromLatin1(r.name)));
    delete l;
  }

  const struct {
    const char* name;
    float left, right;
  } levels[] = {{"silent", 0.00001f, 0.00001f}, {"-40dB", 0.01f, 0.01f},
                {"-20dB_-10dB", 0.1f, 0.316f},  {"-6dB", 0.5f, 0.5f},
                {"-2dB_-12dB", 0.794f, 0.25f},  {"full", 1.0f, 1.0f}};
  for (const auto& lv : levels) {
    auto* m = new TFBVUMeter(&host);
    kelvane::looks::levelMeter(m);
    m->setGeometry(8, 16, 73, 209);
    m->show();
    m->SetLevels(lv.left, lv.right);
    save(m, dir, QStringLiteral("levelbar_FBVU_%1").arg(QString::fromLatin1(lv.name)));
    delete m;
  }

  auto button = [&](const QString& caption, QSize size, auto style) {
    auto* b = new TGradBtn(&host);
    b->setGeometry(QRect(QPoint(8, 8), size));
    style(b);
    b->setCaption(caption);
    b->show();
    return b;
  };
  auto upAndPressed = [&](TGradBtn* b, const QString& name) {
    save(b, dir, QStringLiteral("button_%1_up").arg(name));
    sendMouse(b, QEvent::MouseButtonPress, QPoint(5, 5));
    save(b, dir, QStringLiteral("button_%1_pressed").arg(name));
    sendMouse(b, QEvent::MouseButtonRelease, QPoint(-50, -50));  // released outside: no click
    delete b;
  };
  upAndPressed(button(QStringLiteral("Start"), QSize(89, 41), kelvane::looks::startButton),
               QStringLiteral("GBTNSS_Start"));
  upAndPressed(button(QStringLiteral("Stop"), QSize(89, 41), kelvane::looks::startButton),
               QStringLiteral("GBTNSS_Stop"));
  const struct {
    const char* name;
    const char* caption;
    int width;
  } views[] = {{"GBTN1", "Input", 73},
               {"GBTN2", "MPX", 72},
               {"GradBtn1", "MPX FFT", 72},
               {"GBTN3", "Output", 72},
               {"GradBtn2", "Output FFT", 72}};
  for (const auto& v : views) {
    upAndPressed(button(QString::fromLatin1(v.caption), QSize(v.width, 25),
                        [](TGradBtn* b) { kelvane::looks::viewButton(b); }),
                 QString::fromLatin1(v.name));
  }
  upAndPressed(button(QStringLiteral("Close"), QSize(81, 49),
                      [](TGradBtn* b) { kelvane::looks::viewButton(b, true); }),
               QStringLiteral("dialog_GBTN1_Close"));

  // The button's own defaults in each gradient style, with an accelerator in the caption.
  const char* styles[] = {"gsBHorizontal", "gsBVertical",  "gsElliptic",
                          "gsRectangle",   "gsVertCenter", "gsHorizCenter"};
  for (int i = 0; i < 6; ++i) {
    TGradBtn* b = button(QStringLiteral("&Start"), QSize(75, 25), [i](TGradBtn* x) {
      x->setGradstyle(static_cast<TGradBtn::TGradientStyle>(i));
    });
    save(b, dir, QStringLiteral("button_default_%1").arg(QString::fromLatin1(styles[i])));
    delete b;
  }
  return failures == 0 ? 0 : 1;
}
