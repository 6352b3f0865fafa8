// SPDX-License-Identifier: GPL-3.0-or-later
// I/Q recordings: the WAV/RF64 headers, the cf32 conversion and the SigMF file pair, on the
// file rules of OutputFile.
#include "IqFileWriter.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "OutputFile.h"

namespace kelvane {
namespace {

void Put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Put64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void PutFmt(std::uint8_t* p, std::uint32_t rate) {
  std::memcpy(p, "fmt ", 4);
  Put32(p + 4, 16);
  Put16(p + 8, 1);
  Put16(p + 10, 2);
  Put32(p + 12, rate);
  Put32(p + 16, rate * 4);
  Put16(p + 20, 4);
  Put16(p + 22, 16);
}

// The 80-byte header of a file whose size may pass 4 GiB: RF64 with its ds64 chunk, or, when
// the data fits, a plain RIFF with a JUNK chunk of the same size where ds64 would be.
constexpr std::size_t kLongHeader = 80;
std::array<std::uint8_t, kLongHeader> LongHeader(std::uint32_t rate, std::uint64_t dataBytes,
                                                 bool rf64) {
  std::array<std::uint8_t, kLongHeader> h{};
  std::uint8_t* p = h.data();
  const std::uint64_t riffSize = kLongHeader - 8 + dataBytes;
  std::memcpy(p, rf64 ? "RF64" : "RIFF", 4);
  Put32(p + 4, rf64 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(riffSize));
  std::memcpy(p + 8, "WAVE", 4);
  std::memcpy(p + 12, rf64 ? "ds64" : "JUNK", 4);
  Put32(p + 16, 28);
  if (rf64) {
    Put64(p + 20, riffSize);
    Put64(p + 28, dataBytes);
    Put64(p + 36, dataBytes / 4);  // frames
    Put32(p + 44, 0);              // no table of other chunk sizes
  }
  PutFmt(p + 48, rate);
  std::memcpy(p + 72, "data", 4);
  Put32(p + 76, rf64 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(dataBytes));
  return h;
}

std::string StripSuffix(const std::string& path) {
  for (const char* tail : {".sigmf-data", ".sigmf-meta", ".sigmf"}) {
    const std::size_t n = std::strlen(tail);
    if (path.size() > n && path.compare(path.size() - n, n, tail) == 0) {
      return path.substr(0, path.size() - n);
    }
  }
  return path;
}

constexpr std::size_t kConvertFrames = 4096;

}  // namespace

void MakeWavHeader(std::uint8_t out[44], std::uint32_t sampleRate, std::uint16_t channels,
                   std::uint32_t dataBytes) {
  const std::uint16_t blockAlign = static_cast<std::uint16_t>(channels * 2);
  std::memcpy(out, "RIFF", 4);
  Put32(out + 4, 36 + dataBytes);
  std::memcpy(out + 8, "WAVEfmt ", 8);
  Put32(out + 16, 16);
  Put16(out + 20, 1);
  Put16(out + 22, channels);
  Put32(out + 24, sampleRate);
  Put32(out + 28, sampleRate * blockAlign);
  Put16(out + 32, blockAlign);
  Put16(out + 34, 16);
  std::memcpy(out + 36, "data", 4);
  Put32(out + 40, dataBytes);
}

struct IqFileWriter::Impl {
  OutputFile data;
  OutputFile meta;  // SigMF only
  IqFormat format = IqFormat::Wav;
  IqMetadata metadata;
  std::string path;
  std::uint32_t rate = 0;
  std::int64_t expectedBytes = -1;  // WAV data announced in the header, or -1
  bool longHeader = false;          // the 80-byte header, completed at Commit
  std::uint64_t headerBytes = 0;
  std::uint64_t dataBytes = 0;
  std::uint64_t wavLimit = kMaxWavDataBytes;
  std::vector<std::uint8_t> convert;

  bool WriteHeader(std::int64_t frames, std::string& error);
  bool FinishWav(std::string& error);
};

IqFileWriter::IqFileWriter() : impl_(std::make_unique<Impl>()) {}

IqFileWriter::~IqFileWriter() {
  Abort();
}

void IqFileWriter::SetWavLimit(std::uint64_t dataBytes) {
  impl_->wavLimit = dataBytes;
}

std::vector<std::string> IqFileWriter::OutputNames(const std::string& path, IqFormat format) {
  if (format == IqFormat::SigMF || format == IqFormat::SigMFcf32) {
    const std::string base = StripSuffix(path);
    return {base + ".sigmf-data", base + ".sigmf-meta"};
  }
  return {path};
}

bool IqFileWriter::Open(const std::string& path, IqFormat format, const IqMetadata& meta,
                        std::int64_t frames, std::string& error) {
  Abort();
  Impl& m = *impl_;
  m.format = format;
  m.metadata = meta;
  m.path = path;
  m.rate = static_cast<std::uint32_t>(meta.sampleRate);
  m.expectedBytes = -1;
  m.longHeader = false;
  m.headerBytes = 0;
  m.dataBytes = 0;
  const bool sigmf = format == IqFormat::SigMF || format == IqFormat::SigMFcf32;
  const bool cf32 = format == IqFormat::Cf32 || format == IqFormat::SigMFcf32;
  m.convert.assign(cf32 ? kConvertFrames * 8 : 0, 0);
  if (sigmf && path == "-") {
    error = "a SigMF recording needs a file name (it makes NAME.sigmf-data and NAME.sigmf-meta)";
    return false;
  }
  const auto names = OutputNames(path, format);
  const char* what = format == IqFormat::Wav ? "a WAV file" : "raw I/Q frames";
  if (!m.data.Open(names[0], what, error)) return false;
  if (sigmf && !m.meta.Open(names[1], "SigMF metadata", error)) {
    m.data.Abort();
    return false;
  }
  if (format == IqFormat::Wav && !m.WriteHeader(frames, error)) {
    Abort();
    return false;
  }
  return true;
}

bool IqFileWriter::Impl::WriteHeader(std::int64_t frames, std::string& error) {
  if (frames >= 0) {
    const std::uint64_t bytes = static_cast<std::uint64_t>(frames) * 4;
    expectedBytes = static_cast<std::int64_t>(bytes);
    if (bytes <= wavLimit) {
      std::uint8_t h[44];
      MakeWavHeader(h, rate, 2, static_cast<std::uint32_t>(bytes));
      headerBytes = sizeof h;
      return data.Write(h, sizeof h, error);
    }
    const auto h = LongHeader(rate, bytes, true);
    headerBytes = h.size();
    return data.Write(h.data(), h.size(), error);
  }
  if (data.Direct()) {
    // A stream of unknown length: the sizes say "as far as it goes", as streaming tools do.
    std::uint8_t h[44];
    MakeWavHeader(h, rate, 2, 0xFFFFFFFFu - 36);
    Put32(h + 4, 0xFFFFFFFFu);
    Put32(h + 40, 0xFFFFFFFFu);
    headerBytes = sizeof h;
    return data.Write(h, sizeof h, error);
  }
  // Room for ds64; the sizes go in at Commit.
  longHeader = true;
  const auto h = LongHeader(rate, 0, false);
  headerBytes = h.size();
  return data.Write(h.data(), h.size(), error);
}

bool IqFileWriter::Write(const std::uint8_t* frames, std::size_t count, std::string& error) {
  Impl& m = *impl_;
  if (!m.data.IsOpen()) {
    error = m.path + ": not open";
    return false;
  }
  const std::uint64_t bytes = static_cast<std::uint64_t>(count) * 4;
  if (m.expectedBytes >= 0 && m.dataBytes + bytes > static_cast<std::uint64_t>(m.expectedBytes)) {
    error = m.path + ": more data than announced in the header";
    return false;
  }
  if (m.convert.empty()) {
    if (!m.data.Write(frames, static_cast<std::size_t>(bytes), error)) return false;
  } else {
    // float32 = int16 / 32768, little-endian: exactly representable, so a reader gets the
    // 16-bit samples back by multiplying.
    for (std::size_t done = 0; done < count;) {
      const std::size_t n = std::min(kConvertFrames, count - done);
      const std::uint8_t* in = frames + done * 4;
      for (std::size_t k = 0; k < n * 2; ++k) {
        const auto v = static_cast<std::int16_t>(in[2 * k] | in[2 * k + 1] << 8);
        const float f = static_cast<float>(v) / 32768.0f;
        std::uint32_t bits = 0;
        std::memcpy(&bits, &f, 4);
        Put32(m.convert.data() + 4 * k, bits);
      }
      if (!m.data.Write(m.convert.data(), n * 8, error)) return false;
      done += n;
    }
  }
  m.dataBytes += bytes;
  return true;
}

bool IqFileWriter::Impl::FinishWav(std::string& error) {
  if (expectedBytes >= 0 && dataBytes != static_cast<std::uint64_t>(expectedBytes)) {
    error = path + ": fewer frames written than announced in the header";
    return false;
  }
  if (!longHeader) return true;
  const auto h = LongHeader(rate, dataBytes, dataBytes > wavLimit);
  return data.WriteAt(0, h.data(), h.size(), error);
}

bool IqFileWriter::Commit(std::string& error) {
  Impl& m = *impl_;
  if (!m.data.IsOpen()) {
    error = m.path + ": not open";
    return false;
  }
  if (m.format == IqFormat::Wav && !m.FinishWav(error)) {
    Abort();
    return false;
  }
  if (!m.data.Finish(error)) {
    Abort();
    return false;
  }
  if (m.meta.IsOpen()) {
    // The metadata last: a recording with its meta file is a complete one.
    const std::string text = SigMFMetaText(m.metadata, m.format == IqFormat::SigMFcf32);
    if (!m.meta.Write(text.data(), text.size(), error) || !m.meta.Finish(error) ||
        !m.data.Publish(error)) {
      Abort();
      return false;
    }
    if (!m.meta.Publish(error)) {
      if (!m.data.Direct()) ::unlink(m.data.Target().c_str());
      Abort();
      return false;
    }
    return true;
  }
  if (!m.data.Publish(error)) {
    Abort();
    return false;
  }
  return true;
}

void IqFileWriter::Abort() {
  impl_->data.Abort();
  impl_->meta.Abort();
}

std::uint64_t IqFileWriter::BytesWritten() const {
  const bool cf32 = !impl_->convert.empty();
  return impl_->headerBytes + impl_->dataBytes * (cf32 ? 2 : 1);
}

bool IqFileWriter::Direct() const {
  return impl_->data.Direct();
}

bool IqFileWriter::ReaderGone() const {
  return impl_->data.ReaderGone();
}

}  // namespace kelvane
