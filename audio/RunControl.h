// SPDX-License-Identifier: GPL-3.0-or-later
// Starting and stopping a run on the sound card without any widget: shared by the window and
// the headless player.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "AudioIO.h"
#include "FramePorts.h"
#include "Modulator.h"
#include "ServerWatch.h"

namespace kelvane {

// The device number to open for a list: the entry named `name` (letters a-z compared without
// case), else `index`; -1 (no selection) when that is outside the list.
int ChooseDevice(const std::vector<std::string>& list, const std::string& name, int index);

// What a start needs from the window's lists and radio buttons (or from the player's settings).
struct RunSettings {
  int samplingRateIndex = 3;  // CBSR position: 0..3, -1 for no selection
  int bufferLengthIndex = 2;  // CBBL position: 0..4; anything else plays 250 ms buffers
  bool sineSource = true;     // RBSINE checked; false runs the sound-card input
  int outputDevice = -1;      // ComboBox3 position, -1 for no selection
  int inputDevice = -1;       // ComboBox5 position, -1 for no selection
  // More than 0: the output plays exactly this long (rounded to frames), then fades out and
  // closes by itself (see FadeOutAt). The window leaves it at 0: it runs until stopped.
  double stopAfterSeconds = 0.0;
  // With sineSource false: the modulation comes from this source (an audio file) instead of
  // the capture device, which then stays closed. Must outlive the run.
  FrameSource* fileSource = nullptr;
};

// What became of one stream at a start.
struct DeviceOutcome {
  bool tried = false;   // a device was selected (and, for the input, the source needs it)
  bool opened = false;  // the stream is streaming (opened, and for the output also started)
  int device = -1;
  std::string errorText;  // the stream's ErrorText when the open failed
};

inline constexpr const char* kTextNoOutputDevice = "No output device is selected";

struct StartResult {
  // False when no sampling rate or no output device is selected: then `error` holds the text
  // to show, and apart from StopRequested, the power meter and the input captures nothing
  // changed. False as well while a stream is still open (`error` says so; nothing changed).
  bool started = false;
  std::string error;
  int frameRate = 0;
  int bufferBytes = 0;      // given to both streams (each raises it to at least 512)
  bool rdsAllowed = false;  // CBRDS: enabled if true, else unchecked and disabled
  DeviceOutcome input;
  DeviceOutcome output;
};

// A stream whose device stopped while running (server gone, device removed, stalled). The
// stream is closed already.
struct DeviceLostEvent {
  bool output = false;
  std::string errorText;
};

class RunControl {
 public:
  // Wires the streams to the engine (the fill routine and the capture handler) and gives them
  // their designed properties: 32768-byte buffers, 192000 Hz, stereo. The three objects must
  // outlive this one; all calls come from the streams' owner thread.
  RunControl(Modulator& modulator, TAudioOut& output, TAudioIn& input);
  ~RunControl();
  RunControl(const RunControl&) = delete;
  RunControl& operator=(const RunControl&) = delete;

  // The start of a run. `applyRdsRule` runs once the rate is known and before any buffer is
  // filled, so that the first block already sees the RDS switch the caller sets from it.
  StartResult Start(const RunSettings& settings,
                    const std::function<void(bool rdsAllowed)>& applyRdsRule = {});
  // The stop of a run: StopRequested, then the queued buffers of both streams are discarded
  // and the devices closed at once. The engine keeps its state for the next start.
  void Stop();
  bool Running() const { return running_; }

  // Asks both open devices whether they still work (call it periodically: a stalled device
  // sends no notices). A failed one is closed and reported through OnDeviceLost. Returns
  // false if either failed.
  bool CheckDevices();

  // A soft end of the output: from frame `frame` of this run on the signal fades to silence
  // over kFadeMs, silence follows (to the end of a block at least 2 blocks and 0.5 s later)
  // until everything before it has left the device, and then the output stream closes by
  // itself (OutputFinished). A frame already filled means the
  // next block; an end set earlier than that stays. Only the output is affected; Stop ends
  // the rest.
  void FadeOutAt(uint64_t frame);
  bool FadingOut() const { return fadeSet_; }
  bool OutputFinished() const {
    return fadeSet_ && !output_.DeviceOpen() && !output_.DeviceFailed();
  }
  // A stop without a click that ends at once whatever the buffer length: the output device
  // fades out what it plays now over kFadeMs and then plays silence. SoftStopDone() is true
  // once that has been heard (or when the output is not open); Stop() then ends the run.
  void StopSoftly();
  bool SoftStopDone() const;
  // Breaks in the captured signal since the start: blocks the capture device dropped (no free
  // buffer in time) and captured buffers that did not wholly fit into the input sample queue.
  uint64_t InputGaps() const { return input_.Overruns() + queueOverflows_; }
  // Frames of engine signal handed to the output stream since the start.
  uint64_t FramesFilled() const { return framesFilled_; }
  static constexpr int kFadeMs = 20;

  // Sound-server checks for the runs that follow: ask the server for our rate and look once a
  // second at what it does with the output. Off unless switched on (a scripted driver has no
  // server behind it).
  void SetServerWatch(bool on) { serverWatchOn_ = on; }
  // What the sound server does wrong with the running output (newest look) that has not been
  // told yet in this run: each kind once. Empty while all is well, before the first look, or
  // when no server plays our stream.
  std::vector<ServerProblem> NewServerProblems();

  // Every block handed to the output from now on also goes to `sink` (a recorder), until set
  // to nullptr; it must outlive that.
  void SetRecorder(FrameSink* sink) { recorder_ = sink; }

  // Optional hooks, all on the owner's thread.
  std::function<void()> OnBlockFilled;  // after every output block (e.g. refresh the meter)
  std::function<void(float left, float right)> OnInputLevels;  // after every capture block
  std::function<void(const DeviceLostEvent&)> OnDeviceLost;

 private:
  bool Fill(uint8_t* buffer, int& size);
  bool OpenOutput(int device, DeviceOutcome& outcome);
  bool OpenInput(int device, DeviceOutcome& outcome);

  Modulator& modulator_;
  TAudioOut& output_;
  TAudioIn& input_;
  bool running_ = false;
  uint64_t framesFilled_ = 0;
  bool fadeSet_ = false;
  uint64_t fadeStart_ = 0;   // first faded frame
  uint64_t fadeFrames_ = 0;  // length of the fade
  uint64_t fadeEnd_ = 0;     // last frame (exclusive) handed over, silence included
  uint64_t queueOverflows_ = 0;
  FrameSource* fileSource_ = nullptr;
  std::vector<uint8_t> fileBlock_;  // one block of the file's frames, sized at the start
  FrameSink* recorder_ = nullptr;
  bool serverWatchOn_ = false;
  unsigned serverProblemsTold_ = 0;  // one bit per ServerProblem::Kind told in this run
  ServerWatch serverWatch_;
};

}  // namespace kelvane
