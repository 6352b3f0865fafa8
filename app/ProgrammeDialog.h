// SPDX-License-Identifier: GPL-3.0-or-later
// TFRDS, the non-modal "RDS and audio" dialog: pre-emphasis, the audio low-pass and the RDS
// items past PI and PS. Every control acts at once on the main window's programme values, which
// the engine reads at each block and which outlive the dialog.
#pragma once

#include <QColor>
#include <QDialog>
#include <functional>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class TGradBtn;

namespace kelvane {

class TForm1;
class TGroupBox;
struct ProgrammeSettings;
enum class ProgrammeKey : int;

class TFRDS : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 440;
  static constexpr int kClientHeight = 316;

  // Built hidden with the window's current values; the window owns it.
  explicit TFRDS(TForm1& form);

  // Shows the window's values (after a load of the settings).
  void ShowValues();

  TGroupBox *GroupBox1 = nullptr, *GroupBox2 = nullptr;
  QComboBox *CBEMPH = nullptr, *CBPTY = nullptr, *CBDI = nullptr;
  QCheckBox *CBLOWPASS = nullptr, *CBTP = nullptr, *CBTA = nullptr, *CBMS = nullptr;
  QCheckBox* CBCT = nullptr;
  QCheckBox* CBLOOP = nullptr;  // the audio file of the input source loops at its end
  QLineEdit *ERT = nullptr, *EAF = nullptr;
  QLabel* LAFERR = nullptr;  // why the AF text is not taken; empty while it is
  TGradBtn* GBTN1 = nullptr;

 private:
  QCheckBox* Switch(QWidget* group, const char* name, ProgrammeKey key, int x, int y,
                    bool ProgrammeSettings::*member);
  QComboBox* Choice(QWidget* group, const char* name, ProgrammeKey key, int y, int width,
                    int ProgrammeSettings::*member);
  void AfEdited(const QString& text);

  TForm1& form_;
  QColor validText_;                            // the AF text's colour while it parses
  std::vector<std::function<void()>> showers_;  // one per control: shows the window's value
};

}  // namespace kelvane
