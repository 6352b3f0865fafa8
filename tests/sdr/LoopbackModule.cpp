// SPDX-License-Identifier: GPL-3.0-or-later
// A SoapySDR module for the tests: a "kelvane-loopback" transmitter that keeps real time like
// hardware and stores every sample it is given (cf32) and what it was set to (`<file>.meta`).
// Device arguments: file=PATH (else $KELVANE_LOOPBACK_FILE), fail=open|stream|slow, after=S
// (seconds of samples before fail=stream or slow strikes, default 1).
#include <SoapySDR/Device.hpp>
#include <SoapySDR/Errors.hpp>
#include <SoapySDR/Formats.hpp>
#include <SoapySDR/Registry.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

std::string Arg(const SoapySDR::Kwargs& args, const char* key, const char* fallback = "") {
  const auto it = args.find(key);
  return it != args.end() ? it->second : fallback;
}

class Loopback final : public SoapySDR::Device {
 public:
  explicit Loopback(const SoapySDR::Kwargs& args)
      : path_(
            Arg(args, "file",
                std::getenv("KELVANE_LOOPBACK_FILE") ? std::getenv("KELVANE_LOOPBACK_FILE") : "")),
        fail_(Arg(args, "fail")),
        after_(std::atof(Arg(args, "after", "1").c_str())) {
    if (fail_ == "open") throw std::runtime_error("the loopback device was told not to open");
  }
  ~Loopback() override {
    if (file_ != nullptr) std::fclose(file_);
    WriteMeta();
  }

  std::string getDriverKey() const override { return "kelvane-loopback"; }
  std::string getHardwareKey() const override { return "loopback"; }
  size_t getNumChannels(const int dir) const override { return dir == SOAPY_SDR_TX ? 1 : 0; }

  std::vector<double> listSampleRates(const int, const size_t) const override {
    return {2e6, 4e6, 8e6, 10e6, 20e6};
  }
  SoapySDR::RangeList getSampleRateRange(const int d, const size_t c) const override {
    SoapySDR::RangeList r;
    for (double v : listSampleRates(d, c)) r.emplace_back(v, v);
    return r;
  }
  void setSampleRate(const int, const size_t, const double rate) override {
    rate_ = rate;
    WriteMeta();
  }
  double getSampleRate(const int, const size_t) const override { return rate_; }
  SoapySDR::RangeList getFrequencyRange(const int, const size_t) const override {
    return {SoapySDR::Range(1e6, 6e9)};
  }
  void setFrequency(const int, const size_t, const double f, const SoapySDR::Kwargs&) override {
    frequency_ = f;
    WriteMeta();
  }
  double getFrequency(const int, const size_t) const override { return frequency_; }
  SoapySDR::Range getGainRange(const int, const size_t) const override {
    return SoapySDR::Range(0, 47, 1);
  }
  void setGain(const int, const size_t, const double g) override {
    gain_ = g;
    WriteMeta();
  }
  double getGain(const int, const size_t) const override { return gain_; }
  std::vector<std::string> listAntennas(const int, const size_t) const override {
    return {"TX", "TX2"};
  }
  void setAntenna(const int, const size_t, const std::string& a) override {
    antenna_ = a;
    WriteMeta();
  }
  std::string getAntenna(const int, const size_t) const override { return antenna_; }

  SoapySDR::Stream* setupStream(const int dir, const std::string& format,
                                const std::vector<size_t>&, const SoapySDR::Kwargs&) override {
    if (dir != SOAPY_SDR_TX || format != SOAPY_SDR_CF32) throw std::runtime_error("TX CF32 only");
    if (!path_.empty()) file_ = std::fopen(path_.c_str(), "wb");
    return reinterpret_cast<SoapySDR::Stream*>(this);
  }
  void closeStream(SoapySDR::Stream*) override {}
  int activateStream(SoapySDR::Stream*, const int, const long long, const size_t) override {
    start_ = Clock::now();
    active_ = true;
    return 0;
  }
  int deactivateStream(SoapySDR::Stream*, const int, const long long) override {
    active_ = false;
    return 0;
  }

  int writeStream(SoapySDR::Stream*, const void* const* buffs, const size_t numElems, int&,
                  const long long, const long timeoutUs) override {
    if (!active_) return SOAPY_SDR_STREAM_ERROR;
    const bool late = static_cast<double>(written_) >= after_ * rate_;
    if (fail_ == "stream" && late) return SOAPY_SDR_STREAM_ERROR;
    if (fail_ == "slow" && late) std::this_thread::sleep_for(std::chrono::seconds(3));
    // Real time with 50 ms of device buffer ahead, as hardware takes it.
    const auto deadline = Clock::now() + std::chrono::microseconds(timeoutUs);
    long long room = 0;
    for (;;) {
      const double elapsed = std::chrono::duration<double>(Clock::now() - start_).count();
      room = static_cast<long long>((elapsed + 0.05) * rate_) - static_cast<long long>(written_);
      if (room > 0) break;
      if (Clock::now() >= deadline) return SOAPY_SDR_TIMEOUT;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const size_t n = std::min(numElems, static_cast<size_t>(room));
    if (file_ != nullptr) std::fwrite(buffs[0], 8, n, file_);
    written_ += n;
    return static_cast<int>(n);
  }

 private:
  void WriteMeta() const {
    if (path_.empty()) return;
    if (FILE* f = std::fopen((path_ + ".meta").c_str(), "w")) {
      std::fprintf(f, "rate=%.17g\nfrequency=%.17g\ngain=%.17g\nantenna=%s\nsamples=%llu\n", rate_,
                   frequency_, gain_, antenna_.c_str(), static_cast<unsigned long long>(written_));
      std::fclose(f);
    }
  }

  std::string path_, fail_;
  double after_;
  double rate_ = 2e6, frequency_ = 100e6, gain_ = 0;
  std::string antenna_ = "TX";
  FILE* file_ = nullptr;
  bool active_ = false;
  Clock::time_point start_{};
  size_t written_ = 0;
};

SoapySDR::KwargsList FindLoopback(const SoapySDR::Kwargs& args) {
  const std::string driver = Arg(args, "driver");
  if (!driver.empty() && driver != "kelvane-loopback") return {};
  return {{{"driver", "kelvane-loopback"}, {"label", "Kelvane loopback"}}};
}

SoapySDR::Device* MakeLoopback(const SoapySDR::Kwargs& args) {
  return new Loopback(args);
}

const SoapySDR::Registry kRegistry("kelvane-loopback", &FindLoopback, &MakeLoopback,
                                   SOAPY_SDR_ABI_VERSION);

}  // namespace
