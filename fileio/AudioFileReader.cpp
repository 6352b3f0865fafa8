// SPDX-License-Identifier: GPL-3.0-or-later
// Decoding through libsndfile, rate conversion through libsoxr, and the 16-bit pass-through.
#include "AudioFileReader.h"

#include <fcntl.h>
#include <sndfile.h>
#include <soxr.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace kelvane {
namespace {

constexpr std::size_t kChunkFrames = 4096;  // frames decoded per library call

std::string MajorName(int format) {
  switch (format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_WAV:
      return "WAV";
    case SF_FORMAT_WAVEX:
      return "WAV";
    case SF_FORMAT_RF64:
      return "RF64";
    case SF_FORMAT_AIFF:
      return "AIFF";
    case SF_FORMAT_FLAC:
      return "FLAC";
    case SF_FORMAT_OGG:
      return "Ogg";
    case SF_FORMAT_MPEG:
      return "MPEG";
    case SF_FORMAT_RAW:
      return "raw";
    default:
      break;
  }
  SF_FORMAT_INFO info{};
  info.format = format & SF_FORMAT_TYPEMASK;
  if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) == 0 && info.name) {
    return info.name;
  }
  return "audio";
}

std::string SubtypeName(int format) {
  switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
      return "8 bit";
    case SF_FORMAT_PCM_16:
      return "16 bit";
    case SF_FORMAT_PCM_24:
      return "24 bit";
    case SF_FORMAT_PCM_32:
      return "32 bit";
    case SF_FORMAT_FLOAT:
      return "32-bit float";
    case SF_FORMAT_DOUBLE:
      return "64-bit float";
    case SF_FORMAT_VORBIS:
      return "Vorbis";
    case SF_FORMAT_OPUS:
      return "Opus";
    case SF_FORMAT_MPEG_LAYER_I:
      return "Layer I";
    case SF_FORMAT_MPEG_LAYER_II:
      return "Layer II";
    case SF_FORMAT_MPEG_LAYER_III:
      return "MP3";
    default:
      return "";
  }
}

// libsndfile's texts as part of ours: without its "Error : " lead and its full stop.
std::string LibraryText(const char* text) {
  std::string s = text ? text : "unknown error";
  if (s.rfind("Error : ", 0) == 0) s.erase(0, 8);
  while (!s.empty() && (s.back() == '.' || s.back() == ' ' || s.back() == '\n')) s.pop_back();
  return s;
}

// A file cut short (an interrupted copy or download) whose header still gives the full length:
// libsndfile plays what is there and notes "data : <header> (should be <present>)" in its log.
// Streamed WAVs give 0 or all ones as their length; those are not taken as cut.
bool CutShort(SNDFILE* sf, std::string& detail) {
  std::string log(8192, '\0');
  sf_command(sf, SFC_GET_LOG_INFO, log.data(), static_cast<int>(log.size()));
  const auto at = log.find("\ndata : ");
  if (at == std::string::npos) return false;
  long long header = 0, present = 0;
  if (std::sscanf(log.c_str() + at, "\ndata : %lld (should be %lld)", &header, &present) != 2) {
    return false;
  }
  if (header <= 0 || header >= 0xFFFFFFF0LL || present >= header) return false;
  detail = "its header gives " + std::to_string(header) + " bytes of sound, the file holds " +
           std::to_string(present);
  return true;
}

std::int16_t ToInt16(float x) {
  const long v = std::lrint(static_cast<double>(x) * 32768.0);
  return static_cast<std::int16_t>(std::clamp(v, -32768L, 32767L));
}

}  // namespace

struct AudioFileReader::Impl {
  ~Impl() { CloseAll(); }

  void CloseAll() {
    if (soxr) soxr_delete(soxr);
    soxr = nullptr;
    if (sf) sf_close(sf);
    sf = nullptr;
  }

  void Fail(const std::string& why) {
    failed = true;
    error = name + ": " + why;
  }

  // Reads up to `frames` frames of the file itself as stereo (mono doubled); 0 at its end or on
  // an error, after which `failed` tells which.
  std::size_t ReadShorts(std::int16_t* out, std::size_t frames) {
    const auto got =
        static_cast<std::size_t>(sf_readf_short(sf, out, static_cast<sf_count_t>(frames)));
    if (sfi.channels == 1) {
      for (std::size_t k = got; k-- > 0;) out[2 * k] = out[2 * k + 1] = out[k];
    }
    return Decoded(got, frames);
  }
  std::size_t ReadFloats(float* out, std::size_t frames) {
    const auto got =
        static_cast<std::size_t>(sf_readf_float(sf, out, static_cast<sf_count_t>(frames)));
    if (sfi.channels == 1) {
      for (std::size_t k = got; k-- > 0;) out[2 * k] = out[2 * k + 1] = out[k];
    }
    return Decoded(got, frames);
  }
  // Tells a decode error or a file that ends before the length its header gave.
  std::size_t Decoded(std::size_t got, std::size_t asked) {
    passFrames += static_cast<std::int64_t>(got);
    if (got == asked) return got;
    if (sf_error(sf) != SF_ERR_NO_ERROR) {
      Fail("cannot be decoded (truncated or damaged?): " + LibraryText(sf_strerror(sf)));
      return 0;
    }
    if (got == 0 && info.frames > 0 && passFrames < info.frames) {
      Fail("ends after " + std::to_string(passFrames) + " of " + std::to_string(info.frames) +
           " frames (truncated or damaged)");
    }
    return got;
  }

  // Back to the first frame for a loop; false without a loop, for an empty file and when the
  // input cannot seek.
  bool LoopAgain() {
    if (!loop || passFrames == 0 || !seekable || sf_seek(sf, 0, SEEK_SET) != 0) return false;
    passFrames = 0;
    return true;
  }

  // Fills `pending` with the next frames at the target rate; false at the end or on an error.
  bool Refill() {
    pendPos = pendLen = 0;
    if (!soxr) {
      std::size_t got = 0;
      if (shorts) {
        got = ReadShorts(pending.data(), kChunkFrames);
      } else {
        got = ReadFloats(inBuf.data(), kChunkFrames);
        for (std::size_t k = 0; k < 2 * got; ++k) pending[k] = ToInt16(inBuf[k]);
      }
      if (got == 0 && !failed && LoopAgain()) return Refill();
      pendLen = got;
      return got > 0;
    }
    for (;;) {
      if (inPos == inLen && !sourceEnded) {
        inPos = 0;
        inLen = ReadFloats(inBuf.data(), kChunkFrames);
        if (failed) return false;
        // Looping feeds the file's start straight after its end into the converter, which so
        // sees one continuous signal across the joint.
        if (inLen == 0 && !LoopAgain()) sourceEnded = true;
        if (inLen == 0) continue;
      }
      std::size_t used = 0, made = 0;
      const soxr_error_t e =
          sourceEnded
              ? soxr_process(soxr, nullptr, 0, nullptr, outBuf.data(), outBuf.size() / 2, &made)
              : soxr_process(soxr, inBuf.data() + 2 * inPos, inLen - inPos, &used, outBuf.data(),
                             outBuf.size() / 2, &made);
      if (e) {
        Fail(std::string("rate conversion failed: ") + e);
        return false;
      }
      inPos += used;
      for (std::size_t k = 0; k < 2 * made; ++k) pending[k] = ToInt16(outBuf[k]);
      pendLen = made;
      if (made > 0) return true;
      if (sourceEnded) return false;  // flushed
    }
  }

  std::string name;  // as messages show it
  SNDFILE* sf = nullptr;
  SF_INFO sfi{};
  AudioFileInfo info;
  bool seekable = false;
  bool shorts = false;  // 16-bit at the target rate: read as it is
  bool loop = false;
  soxr_t soxr = nullptr;
  std::vector<float> inBuf = std::vector<float>(2 * kChunkFrames);
  std::size_t inPos = 0, inLen = 0;
  bool sourceEnded = false;
  std::vector<float> outBuf;
  std::vector<std::int16_t> pending;
  std::size_t pendPos = 0, pendLen = 0;
  std::int64_t passFrames = 0;  // frames of the file decoded since its start
  bool failed = false;
  std::string error;
};

AudioFileReader::AudioFileReader() : impl_(std::make_unique<Impl>()) {}
AudioFileReader::~AudioFileReader() = default;

bool AudioFileReader::Open(const std::string& path, int targetRate, std::string& error,
                           int rawRate) {
  auto d = std::make_unique<Impl>();
  const bool stdinInput = path == "-";
  d->name = stdinInput ? "standard input" : path;
  auto refuse = [&](const std::string& why) {
    error = d->name + ": " + why;
    return false;
  };
  if (targetRate <= 0) return refuse("no output rate");
  int fd = STDIN_FILENO;
  if (!stdinInput) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return refuse(std::strerror(errno));
    if (S_ISDIR(st.st_mode)) return refuse("is a folder, not an audio file");
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return refuse(std::strerror(errno));
  }
  if (stdinInput && rawRate > 0) {
    d->sfi.samplerate = rawRate;
    d->sfi.channels = 2;
    d->sfi.format = SF_FORMAT_RAW | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE;
  }
  // Standard input stays open for whoever else reads it; our own descriptor closes with us.
  d->sf = sf_open_fd(fd, SFM_READ, &d->sfi, stdinInput ? SF_FALSE : SF_TRUE);
  if (!d->sf) {
    if (!stdinInput) ::close(fd);
    return refuse("not an audio file libsndfile can read (" + LibraryText(sf_strerror(nullptr)) +
                  ")");
  }
  if (std::string detail; !stdinInput && CutShort(d->sf, detail)) {
    return refuse("is truncated: " + detail);
  }
  if (d->sfi.channels < 1 || d->sfi.channels > 2) {
    return refuse("has " + std::to_string(d->sfi.channels) +
                  " channels; only mono and stereo files can be played");
  }
  if (d->sfi.samplerate <= 0) return refuse("gives no sampling rate");
  d->seekable = d->sfi.seekable != 0 && !stdinInput;
  d->info.rate = d->sfi.samplerate;
  d->info.channels = d->sfi.channels;
  d->info.frames = d->seekable ? d->sfi.frames : -1;
  const std::string sub = SubtypeName(d->sfi.format);
  const std::string major = MajorName(d->sfi.format);
  d->info.format = (d->sfi.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG && sub == "MP3"
                       ? sub
                       : major + (sub.empty() ? "" : (major == "Ogg" ? "/" : ", ") + sub);
  const bool sameRate = d->sfi.samplerate == targetRate;
  d->shorts = sameRate && (d->sfi.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16;
  std::size_t outFrames = kChunkFrames;
  if (!sameRate) {
    const double ratio = static_cast<double>(targetRate) / d->sfi.samplerate;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t q = soxr_quality_spec(SOXR_HQ, 0);
    soxr_error_t e = nullptr;
    d->soxr = soxr_create(d->sfi.samplerate, targetRate, 2, &e, &io, &q, nullptr);
    if (!d->soxr || e) return refuse(std::string("cannot convert its rate: ") + (e ? e : "?"));
    outFrames = static_cast<std::size_t>(std::ceil(kChunkFrames * ratio)) + 64;
    d->outBuf.resize(2 * outFrames);
  }
  d->pending.resize(2 * outFrames);
  d->loop = impl_->loop;
  impl_ = std::move(d);
  return true;
}

const AudioFileInfo& AudioFileReader::Info() const {
  return impl_->info;
}

void AudioFileReader::SetLoop(bool loop) {
  impl_->loop = loop;
}

std::size_t AudioFileReader::Read(std::int16_t* out, std::size_t frames) {
  Impl& d = *impl_;
  if (!d.sf || d.failed) return 0;
  std::size_t done = 0;
  while (done < frames) {
    if (d.pendPos == d.pendLen && !d.Refill()) break;
    const std::size_t n = std::min(frames - done, d.pendLen - d.pendPos);
    std::memcpy(out + 2 * done, d.pending.data() + 2 * d.pendPos, n * 2 * sizeof(std::int16_t));
    d.pendPos += n;
    done += n;
  }
  return d.failed ? 0 : done;
}

bool AudioFileReader::Failed() const {
  return impl_->failed;
}

const std::string& AudioFileReader::Error() const {
  return impl_->error;
}

}  // namespace kelvane
