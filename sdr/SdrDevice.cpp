// SPDX-License-Identifier: GPL-3.0-or-later
// Finding and opening SoapySDR transmitters.
#include "SdrDevice.h"

#include <SoapySDR/Device.hpp>
#include <SoapySDR/Formats.hpp>
#include <SoapySDR/Types.hpp>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <exception>

namespace kelvane::sdr {
namespace {

std::optional<double> ReadNumber(const std::string& text) {
  if (text.empty()) return std::nullopt;
  double v = 0.0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size() || !std::isfinite(v)) {
    return std::nullopt;
  }
  return v;
}

std::string LabelOf(const SoapySDR::Kwargs& args) {
  for (const char* key : {"label", "product", "driver"}) {
    if (const auto it = args.find(key); it != args.end() && !it->second.empty()) {
      std::string label = it->second;
      if (const auto s = args.find("serial");
          s != args.end() && !s->second.empty() && label.find(s->second) == std::string::npos) {
        label += " " + s->second;
      }
      return label;
    }
  }
  return "device";
}

std::string Number(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.10g", v);
  return text;
}

}  // namespace

std::vector<SdrDeviceInfo> FindTransmitters() {
  std::vector<SdrDeviceInfo> found;
  SoapySDR::KwargsList all;
  try {
    all = SoapySDR::Device::enumerate();
  } catch (const std::exception&) {
    return found;
  }
  for (const SoapySDR::Kwargs& args : all) {
    // Whether a device transmits is known only once it is open.
    try {
      SoapySDR::Device* device = SoapySDR::Device::make(args);
      const bool transmits = device != nullptr && device->getNumChannels(SOAPY_SDR_TX) > 0;
      SoapySDR::Device::unmake(device);
      if (transmits) found.push_back({kSdrPrefix + LabelOf(args), SoapySDR::KwargsToString(args)});
    } catch (const std::exception&) {
    }
  }
  return found;
}

bool ReadSdrConfig(const SdrTexts& texts, SdrConfig& config, std::string& error) {
  config = SdrConfig{};
  config.args = texts.args;
  config.antenna = texts.antenna;
  const auto centre = ReadNumber(texts.frequency);
  if (!centre || *centre <= 0.0) {
    error = "the SDR centre frequency is not set (SdrFrequency, Hz; in the window: SDR output...)";
    return false;
  }
  config.centre_Hz = *centre;
  config.rate = ReadNumber(texts.rate).value_or(0.0);
  config.gain_dB = ReadNumber(texts.gain);
  return true;
}

std::string SdrReport::Text() const {
  std::string t = label + ": centre " + Number(centre_Hz) + " Hz, " + Number(rate) +
                  " S/s, TX gain " + Number(gain_dB) + " dB";
  if (!antenna.empty()) t += ", antenna " + antenna;
  return t;
}

std::optional<double> ChooseDeviceRate(const std::vector<RateRange>& ranges, double wanted,
                                       double engineRate) {
  if (wanted > 0.0) {
    for (const RateRange& r : ranges) {
      if (wanted >= r.minimum - 0.5 && wanted <= r.maximum + 0.5) return wanted;
    }
    return std::nullopt;
  }
  const double least = 8.0 * engineRate;
  std::optional<double> best;
  double highest = 0.0;
  for (const RateRange& r : ranges) {
    highest = std::max(highest, r.maximum);
    if (r.maximum < least) continue;
    double v = std::max(r.minimum, least);
    if (r.step > 0.0 && v > r.minimum) v = r.minimum + std::ceil((v - r.minimum) / r.step) * r.step;
    if (v > r.maximum) continue;
    if (!best || v < *best) best = v;
  }
  if (!best && highest > 0.0) best = highest;
  return best;
}

OpenedSdr::~OpenedSdr() {
  if (device_ == nullptr) return;
  try {
    if (stream_ != nullptr) {
      if (active) device_->deactivateStream(stream_);
      device_->closeStream(stream_);
    }
    SoapySDR::Device::unmake(device_);
  } catch (const std::exception&) {
  }
}

std::shared_ptr<OpenedSdr> OpenedSdr::Open(const SdrDeviceInfo& info, const SdrConfig& config,
                                           double engineRate, std::string& error) {
  std::shared_ptr<OpenedSdr> sdr(new OpenedSdr);
  const std::string label = info.label.rfind(kSdrPrefix, 0) == 0
                                ? info.label.substr(std::string(kSdrPrefix).size())
                                : info.label;
  std::string step = "open";
  try {
    SoapySDR::Kwargs args = SoapySDR::KwargsFromString(info.args);
    for (const auto& [k, v] : SoapySDR::KwargsFromString(config.args)) args[k] = v;
    sdr->device_ = SoapySDR::Device::make(args);
    if (sdr->device_ == nullptr) throw std::runtime_error("no such device");
    SoapySDR::Device& d = *sdr->device_;
    if (d.getNumChannels(SOAPY_SDR_TX) < 1) throw std::runtime_error("it cannot transmit");

    step = "set the sample rate";
    std::vector<RateRange> ranges;
    for (const SoapySDR::Range& r : d.getSampleRateRange(SOAPY_SDR_TX, 0))
      ranges.push_back({r.minimum(), r.maximum(), r.step()});
    if (ranges.empty()) {
      for (const double r : d.listSampleRates(SOAPY_SDR_TX, 0)) ranges.push_back({r, r, 0.0});
    }
    const auto rate = ChooseDeviceRate(ranges, config.rate, engineRate);
    if (!rate) {
      std::string offered;
      for (const RateRange& r : ranges)
        offered += (offered.empty() ? "" : ", ") + Number(r.minimum) +
                   (r.maximum > r.minimum ? " .. " + Number(r.maximum) : "");
      throw std::runtime_error("SdrRate " + Number(config.rate) + " S/s is not offered (" +
                               (offered.empty() ? "none" : offered) + ")");
    }
    d.setSampleRate(SOAPY_SDR_TX, 0, *rate);

    step = "tune";
    bool inRange = false;
    for (const SoapySDR::Range& r : d.getFrequencyRange(SOAPY_SDR_TX, 0))
      inRange = inRange || (config.centre_Hz >= r.minimum() && config.centre_Hz <= r.maximum());
    if (!inRange)
      throw std::runtime_error("SdrFrequency " + Number(config.centre_Hz) +
                               " Hz is outside its transmit range");
    d.setFrequency(SOAPY_SDR_TX, 0, config.centre_Hz);

    step = "set the gain";
    const SoapySDR::Range gains = d.getGainRange(SOAPY_SDR_TX, 0);
    const double gain = config.gain_dB.value_or(gains.minimum());
    if (gain < gains.minimum() - 1e-9 || gain > gains.maximum() + 1e-9) {
      throw std::runtime_error("SdrGain " + Number(gain) + " dB is outside its range " +
                               Number(gains.minimum()) + " .. " + Number(gains.maximum()) + " dB");
    }
    d.setGain(SOAPY_SDR_TX, 0, gain);

    step = "choose the antenna";
    if (!config.antenna.empty()) {
      const auto names = d.listAntennas(SOAPY_SDR_TX, 0);
      if (std::find(names.begin(), names.end(), config.antenna) == names.end()) {
        std::string list;
        for (const auto& n : names) list += (list.empty() ? "" : ", ") + n;
        throw std::runtime_error("SdrAntenna \"" + config.antenna + "\" is not one of " +
                                 (list.empty() ? "none" : list));
      }
      d.setAntenna(SOAPY_SDR_TX, 0, config.antenna);
    }

    step = "set up the transmit stream";
    sdr->stream_ = d.setupStream(SOAPY_SDR_TX, SOAPY_SDR_CF32, {0});
    if (sdr->stream_ == nullptr) throw std::runtime_error("no stream");

    SdrReport& rep = sdr->report_;
    rep.label = label;
    rep.rate = d.getSampleRate(SOAPY_SDR_TX, 0);
    rep.centre_Hz = d.getFrequency(SOAPY_SDR_TX, 0);
    rep.gain_dB = d.getGain(SOAPY_SDR_TX, 0);
    rep.antenna = d.getAntenna(SOAPY_SDR_TX, 0);
  } catch (const std::exception& e) {
    error = step == "open" ? std::string(e.what()) : "cannot " + step + ": " + e.what();
    return nullptr;
  }
  return sdr;
}

}  // namespace kelvane::sdr
