// SPDX-License-Identifier: GPL-3.0-or-later
// TFCFG, the non-modal advanced settings dialog: pilot, RDS, stereo corrections, multipath.
#pragma once

#include <QDialog>
#include <QString>
#include <vector>

#include "ParamTable.h"

class QCheckBox;
class QLabel;
class TBMSpinEdit;
class TGradBtn;

namespace kelvane {

class TForm1;
class TGroupBox;

// The multipath note for a sampling rate: how long one delay step lasts and how much extra
// path it stands for, e.g. "1 smp = 2.6 us = 0.8 km" at 192000 Hz.
QString SampleStepText(int rateHz);

class TFCFG : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 454;  // 470 x 340 with the window frame
  static constexpr int kClientHeight = 302;

  // Builds the dialog hidden, registers it with the main window, loads the settings into both
  // windows and resumes streaming when the last run was closed while streaming.
  explicit TFCFG(TForm1& form);
  ~TFCFG() override;

  TBMSpinEdit* Spinner(ParamId id) const;  // dialog spinners only

  TGroupBox *GroupBox14 = nullptr, *GroupBox1 = nullptr, *GroupBox2 = nullptr;
  TGroupBox* GroupBox3 = nullptr;
  TBMSpinEdit *BMSEPF = nullptr, *BMSEPD = nullptr, *BMSERP = nullptr, *BMSERD = nullptr;
  TBMSpinEdit *BMSELR = nullptr, *BMSEPH = nullptr, *BMSEDELAY = nullptr, *BMSEPOW = nullptr;
  QCheckBox* CBMULTI = nullptr;
  QLabel* Label9 = nullptr;
  TGradBtn* GBTN1 = nullptr;

 private:
  void FormCreate(TForm1& form);
  TForm1& form_;
  std::vector<TBMSpinEdit*> spinners_;
};

}  // namespace kelvane
