// SPDX-License-Identifier: GPL-3.0-or-later
// TFSDR, the non-modal "SDR output" dialog: the SDR transmitter's settings and the I/Q swap and
// channel delay every output has. Each field is checked as typed through the settings rules
// and taken by the window at once; a run uses the SDR settings from its next Start.
#pragma once

#include <QDialog>
#include <functional>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class TGradBtn;

namespace kelvane {

class TForm1;
class TGroupBox;
enum class ProgrammeKey : int;

class TFSDR : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 440;
  static constexpr int kClientHeight = 300;

  explicit TFSDR(TForm1& form);
  // Shows the window's values and the device the output list has selected.
  void ShowValues();

  TGroupBox *GroupBox1 = nullptr, *GroupBox2 = nullptr;
  QLabel* LDEVICE = nullptr;  // the selected SDR, and what it read back at the last start
  QLineEdit *EARGS = nullptr, *EFREQ = nullptr, *ERATE = nullptr, *EGAIN = nullptr;
  QLineEdit *EANT = nullptr, *EDELAY = nullptr;
  QCheckBox* CBSWAP = nullptr;
  QLabel* LERR = nullptr;  // why the last edit was not taken; empty while all are
  TGradBtn* GBTN1 = nullptr;

 private:
  QLineEdit* Field(QWidget* group, const char* name, ProgrammeKey key, int y);
  void Edited(ProgrammeKey key, const QString& text);

  TForm1& form_;
  std::vector<std::function<void()>> showers_;
};

}  // namespace kelvane
