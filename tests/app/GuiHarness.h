// SPDX-License-Identifier: GPL-3.0-or-later
// The two windows started as the program starts them, with a scripted audio driver and
// recorded questions, errors and device notices.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QString>
#include <QTest>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "BMSpinEdit.h"
#include "FakeWaveDriver.h"
#include "GradBtn.h"
#include "MainWindow.h"
#include "SettingsDialog.h"
#include "TempDir.h"

inline void PrintTo(const QString& s, std::ostream* os) {
  *os << '"' << s.toStdString() << '"';
}

namespace kelvane::testing {

struct Gui {
  FakeWaveDriver driver;
  std::vector<QString> questions;
  bool answer = true;
  std::function<void()> whileAsking;  // runs while a confirmation box would be open
  std::vector<QString> errors;
  std::vector<QString> notices;
  // The file dialogs' answers, and the filters the open dialog offered.
  QString openAnswer, saveAnswer, saveFilter;
  QString openFilters;
  std::unique_ptr<TForm1> form;
  TFCFG* dialog = nullptr;

  // Creates the main window, then the dialog (which loads `settingsPath`), and shows the window.
  void Start(const std::string& settingsPath, WaveDriver* realDriver = nullptr) {
    FormOptions o;
    o.settingsOption = settingsPath;
    o.driver = realDriver != nullptr ? realDriver : &driver;
    o.confirm = [this](QWidget*, const QString& q) {
      questions.push_back(q);
      if (whileAsking) whileAsking();
      return answer;
    };
    o.error = [this](QWidget*, const QString& m) { errors.push_back(m); };
    o.notice = [this](QWidget*, const QString& m) { notices.push_back(m); };
    o.openFile = [this](QWidget*, const QString&, const QString& filters) {
      openFilters = filters;
      return openAnswer;
    };
    o.saveFile = [this](QWidget*, const QString&, const QString&, QString* chosen) {
      *chosen = saveFilter;
      return saveAnswer;
    };
    form = std::make_unique<TForm1>(o);
    dialog = new TFCFG(*form);
    form->show();
  }
  ~Gui() {
    if (form) form->AudioStop();
  }

  // Clicks as the user does: a press and a release in the middle of the control.
  static void Click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier); }
  void ClickStartStop() { Click(form->GBTNSS); }
  QString Caption() const { return form->GBTNSS->caption(); }
  // Lets the window handle the device notices that are waiting.
  static void Pump() {
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
  }
};

}  // namespace kelvane::testing
