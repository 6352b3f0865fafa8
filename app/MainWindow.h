// SPDX-License-Identifier: GPL-3.0-or-later
// TForm1, the main window: every control of the modulator, the engine, the two streams, the
// settings load and save, run control and the meters.
#pragma once

#include <QPoint>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "AudioIO.h"
#include "ControlSource.h"
#include "Modulator.h"
#include "ParamTable.h"
#include "RunControl.h"
#include "SettingsFile.h"

namespace kelvane::remote {
struct ListenAddress;
}

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMessageBox;
class QRadioButton;
class QSocketNotifier;
class QTimer;
class TBMSpinEdit;
class TCLEDLabel;
class TFBVUMeter;
class TGradBtn;

namespace kelvane {

class ComplexSpectrumView;
class ScopeView;
class TFCFG;
class TFRDS;
class TFSDR;
namespace sdr {
class SdrWaveDriver;
}
class TGroupBox;
struct SettingsValues;
class TPanel;
class FileSource;
class IqRecorder;
class RemoteLink;

// Questions and error boxes go through these, so that tests can answer and read them.
// Confirm: "Confirm" box with Yes and No; true for Yes.
using ConfirmFn = std::function<bool(QWidget* parent, const QString& question)>;
// Error box for an error that escaped a handler (the text already ends in a full stop).
using ErrorFn = std::function<void(QWidget* parent, const QString& message)>;
// A notice about the sound devices that must not stop the program (opening failed, device
// lost); shown without blocking.
using NoticeFn = std::function<void(QWidget* parent, const QString& message)>;
// The file dialogs: a file to open (empty when cancelled), and a file to save with the filter
// the user chose.
using OpenFileFn =
    std::function<QString(QWidget* parent, const QString& caption, const QString& filters)>;
using SaveFileFn = std::function<QString(QWidget* parent, const QString& caption,
                                         const QString& filters, QString* chosenFilter)>;

struct FormOptions {
  // The --settings value; unset: $KELVANE_SETTINGS, else the per-user settings folder.
  std::optional<std::string> settingsOption;
  // The audio system; null for the platform's.
  WaveDriver* driver = nullptr;
  ConfirmFn confirm;    // null: a real confirmation box
  ErrorFn error;        // null: a real error box
  NoticeFn notice;      // null: a non-modal message box
  OpenFileFn openFile;  // null: a real file dialog
  SaveFileFn saveFile;  // null: a real save dialog
};

class TForm1 : public QWidget, public ControlSource {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 728;
  static constexpr int kClientHeight = 528;
  static constexpr const char* kCaption = "FM modulator with I-Q output - Kelvane";
  static constexpr const char* kVersion = "1.0c";

  explicit TForm1(FormOptions options = {});
  ~TForm1() override;

  // The dialog registers itself when it is created; LoadSettings and SaveSettings need it.
  void AttachDialog(TFCFG* dialog) { dialog_ = dialog; }
  TFCFG* Dialog() const { return dialog_; }

  void LoadSettings();
  // False when the file could not be written (the error has been shown).
  bool SaveSettings();
  // The two halves of a load and a save: the file's values into the controls of every window
  // and the programme values, and back.
  void ShowSettingsValues(const SettingsValues& v);
  SettingsValues CurrentSettingsValues() const;
  void AudioStart();
  void AudioStop();
  // Closing asked for by SIGTERM or SIGINT: as the close box, except that a failed save is
  // said on stderr instead of in a box and still closes the window, with ExitStatus() 1.
  void CloseOnSignal();
  int ExitStatus() const { return exitStatus_; }

  // Runs a handler; an exception that escapes it is shown with a full stop appended.
  void Guard(const std::function<void()>& handler);

  // Handlers, wrapped so that an escaping error is shown in an error box.
  void GBTNSSClick();
  void Label14Click();
  void Label18Click();
  void Label19Click();
  // "RDS and audio": opens the dialog, or raises it when it is open already.
  void Label20Click();
  void Timer1Timer();
  // The complex spectrum window, opened from the oscilloscope's context menu (created on first
  // use) and fed with the output captures by the meter timer while it is shown.
  void ShowComplexSpectrum();
  ComplexSpectrumView* ComplexSpectrumWindow() const { return complexSpectrum_; }
  void AddScopeMenu();
  void FeedComplexSpectrum();

  // ControlSource: the engine's view of the controls, read at the start of every block.
  void ReadControls(ControlSnapshot& out) override;
  std::size_t ReadPIText(char* out, std::size_t capacity) override;
  std::size_t ReadPSText(char* out, std::size_t capacity) override;
  std::size_t ReadRTText(char* out, std::size_t capacity) override;

  // The programme values and the RadioText (RDS codes) that the engine reads; the "RDS and
  // audio" dialog edits them, and they stay when it is closed.
  const ProgrammeSettings& Programme() const { return programme_; }
  void SetProgramme(const ProgrammeSettings& p) { programme_ = p; }
  const std::string& RTCodes() const { return rtCodes_; }
  void SetRTCodes(std::string codes);
  TFRDS* ProgrammeDialog() const { return programmeDialog_; }
  // Seconds from the start of a block filled now to its being heard: the output buffers
  // queued ahead of it.
  double QueuedOutputSeconds() const;
  // The clock for the RDS clock-time group: UTC of the block as heard, the local offset.
  void ReadClock(ControlSnapshot& out) const;

  bool IsRunning() const { return isRunning_; }
  bool SkipSave() const { return skipSave_; }
  const std::string& SettingsPath() const { return settingsPath_; }
  Modulator& Engine() { return modulator_; }
  TAudioOut& AudioOut1() { return audioOut1_; }
  TAudioIn& AudioIn1() { return audioIn1_; }
  ScopeView* Scope() const { return paintBox1_; }
  TBMSpinEdit* Spinner(ParamId id) const;        // main-window spinners only
  TBMSpinEdit* EitherSpinner(ParamId id) const;  // of this window, else of the dialog
  double ParamValue(ParamId id) const;           // its committed value, or the first-run one
  // The last device notice shown (empty when none), for the window's own status and tests.
  const QString& LastNotice() const { return lastNotice_; }

  // The audio file of the input source: an entry of the input-device list ahead of the last
  // entry, "Audio file…", which asks for one. A file is taken only when it can be decoded;
  // otherwise a notice says why and the list keeps its selection. The file plays from the next
  // Start with the sound-card input source, looping at its end or not.
  bool ChooseInputFile(const QString& path);
  const QString& InputFile() const { return inputFile_; }
  bool InputFileSelected() const;
  bool InputFileLoop() const { return inputFileLoop_; }
  void SetInputFileLoop(bool loop) { inputFileLoop_ = loop; }
  // The "Record…" link: asks where and in which format, and records what is being sent
  // until clicked again, the run stops, or the recording fails by itself.
  void Label21Click();
  bool Recording() const { return recorder_ != nullptr; }
  void StopRecording();
  // The SDR output (MainWindowSdr.cpp): its settings, the "SDR output" dialog (opened when an
  // SDR is chosen in the output list), and the device and what it read back at the last start.
  const SettingsValues::Sdr& SdrSettings() const { return sdr_; }
  void SetSdrSettings(const SettingsValues::Sdr& s) { sdr_ = s; }
  void OpenSdrDialog();
  TFSDR* SdrDialog() const { return sdrDialog_; }
  QString SdrStatusText();
  // Remote control (MainWindowRemote.cpp): SCPI commands on a TCP port, on this thread. False
  // with a one-line reason (e.g. the port is in use). RemotePort is the setting that starts it
  // with the window (0: off); RemotePortListening the port taken, 0 when none.
  bool StartRemote(const remote::ListenAddress& address, std::string& error);
  int RemotePort() const { return remotePort_; }
  int RemotePortListening() const;

 protected:
  void closeEvent(QCloseEvent* e) override;
  void showEvent(QShowEvent* e) override;

 private:
  void BuildControls();
  void FormCreate();
  void GetWaveInDevices();
  void GetWaveOutDevices();
  // The file source (MainWindowFile.cpp).
  void AddInputFileEntries();
  void InputListActivated(int index);
  void ShowInputFile(const SettingsValues& v);
  int InputDeviceIndex() const;  // the selected device, -1 for none or the file
  int SavedInputDevice() const;  // the device the settings file keeps
  FrameSource* OpenInputFile(int samplingRateIndex);
  void CheckInputFile();
  // Recording (MainWindowRecord.cpp).
  void BuildRecordLink();
  bool StartRecording(const QString& path, const QString& filter);
  void RecordTick();
  void ShowDeviceNotice(const QString& message);
  void ProcessOutNotices();
  void ProcessInNotices();
  void ShowPower();
  void SetScopeFunc(int f);
  void Place();
  bool Confirm(const QString& question);
  WaveDriver& Driver();
  sdr::SdrWaveDriver* SdrDriver();
  // Before a start on an SDR: its settings to the driver and the user's word to transmit.
  // False when the user declined; throws when a setting is missing.
  bool PrepareSdrStart(int device);
  void BuildSdrLink();

  FormOptions options_;
  Modulator modulator_;
  TAudioOut audioOut1_;
  TAudioIn audioIn1_;
  // Start, Stop and device loss, shared with the headless player; after the three it drives.
  RunControl run_;
  std::string settingsPath_;
  std::string settingsDir_;
  bool isRunning_ = false;
  bool skipSave_ = false;
  bool closingOnSignal_ = false;
  int exitStatus_ = 0;
  // The edges loaded from the file, until the shown window has been placed by them.
  std::optional<QPoint> storedPos_;
  TFCFG* dialog_ = nullptr;
  std::vector<std::string> inDevices_, outDevices_;
  std::string piText_ = "FFFF", psText_ = "PS Name";  // PS in RDS codes
  ProgrammeSettings programme_;
  std::string rtCodes_;
  TFRDS* programmeDialog_ = nullptr;  // made at its first opening
  unsigned powerSerial_ = ~0u;
  QString lastNotice_;
  QPointer<QMessageBox> noticeBox_;
  QString inputFile_;  // the audio file's full path; empty when none was chosen
  bool inputFileLoop_ = false;
  int lastInputIndex_ = -1;  // the list's selection before "Audio file…" was chosen
  int lastInDevice_ = -1;    // the device last selected in the list
  std::unique_ptr<FileSource> fileSource_;  // open while a run plays it
  bool fileErrorTold_ = false;
  std::unique_ptr<IqRecorder> recorder_;  // while recording
  int recordRate_ = 0;
  QTimer* recordTimer_ = nullptr;
  SettingsValues::Sdr sdr_;
  TFSDR* sdrDialog_ = nullptr;
  std::string sdrConfirmed_;  // the device and arguments the user last agreed to transmit on
  std::unique_ptr<RemoteLink> remote_;
  int remotePort_ = 0;

 public:
  // Controls, named as the window's design names them (also their Qt object names).
  TPanel* Panel1 = nullptr;
  TGroupBox *GroupBox2 = nullptr, *GroupBox3 = nullptr, *GroupBox4 = nullptr;
  TGroupBox *GroupBox14 = nullptr, *GroupBox13 = nullptr, *GroupBox11 = nullptr;
  TGroupBox* GroupBox12 = nullptr;
  TPanel* Panel2 = nullptr;
  TGroupBox *GroupBox5 = nullptr, *GroupBox1 = nullptr, *GroupBox7 = nullptr;
  TGroupBox *GroupBox8 = nullptr, *GroupBox6 = nullptr, *GroupBox9 = nullptr;
  TPanel *Panel3 = nullptr, *Panel4 = nullptr, *Panel5 = nullptr;
  TBMSpinEdit *BMSEPD = nullptr, *BMSEMF = nullptr, *BMSEMS = nullptr, *BMSECF = nullptr;
  TBMSpinEdit *BMSESWING = nullptr, *BMSEGO = nullptr, *BMSEPO = nullptr;
  TBMSpinEdit *BMSEDCOL = nullptr, *BMSEDCOR = nullptr;
  QLabel *Label19 = nullptr, *Label18 = nullptr, *Label14 = nullptr, *Label13 = nullptr;
  QLabel* Label20 = nullptr;  // "RDS and audio"
  QLabel* Label21 = nullptr;  // "Record…"
  QLabel* Label22 = nullptr;  // "SDR output…"
  QRadioButton *RBSINE = nullptr, *RBEXT = nullptr;
  QComboBox *ComboBox5 = nullptr, *CBSR = nullptr, *CBBL = nullptr, *ComboBox3 = nullptr;
  QCheckBox *CBSTEREO = nullptr, *CBRDS = nullptr, *CBDC = nullptr, *CBPREAMP = nullptr;
  QLineEdit *EPI = nullptr, *EPS = nullptr;
  TGradBtn *GBTNSS = nullptr, *GBTN1 = nullptr, *GBTN2 = nullptr, *GradBtn1 = nullptr;
  TGradBtn *GBTN3 = nullptr, *GradBtn2 = nullptr;
  TFBVUMeter* FBVU = nullptr;
  QLabel* Image1 = nullptr;
  TCLEDLabel *CLEDLabel1 = nullptr, *CLEDPM = nullptr;
  ScopeView* paintBox1_ = nullptr;  // object name "PaintBox1"
  ComplexSpectrumView* complexSpectrum_ = nullptr;
  QTimer* Timer1 = nullptr;

 private:
  QSocketNotifier* outNotifier_ = nullptr;
  QSocketNotifier* inNotifier_ = nullptr;
  std::vector<TBMSpinEdit*> spinners_;  // by ParamId, main-window rows only (others null)
};

}  // namespace kelvane
