// WAV reading of real-world layouts.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <vector>

#include "TempDir.h"
#include "wav.h"

namespace kelvane::cli {
namespace {

using kelvane::testing::ReadFile;
using kelvane::testing::TempDir;
using kelvane::testing::WriteFile;

std::string U16(unsigned v) {
  return {char(v & 0xFF), char((v >> 8) & 0xFF)};
}
std::string U32(unsigned v) {
  return U16(v & 0xFFFF) + U16(v >> 16);
}
std::string Chunk(const std::string& id, const std::string& body) {
  std::string c = id + U32(static_cast<unsigned>(body.size())) + body;
  if (body.size() & 1) c += '\0';
  return c;
}
std::string Fmt(unsigned tag, unsigned channels, unsigned rate, unsigned bits) {
  const unsigned align = channels * bits / 8;
  return U16(tag) + U16(channels) + U32(rate) + U32(rate * align) + U16(align) + U16(bits);
}
std::string Riff(const std::string& chunks) {
  return "RIFF" + U32(4 + chunks.size()) + "WAVE" + chunks;
}

// Frames L=i, R=-i.
std::string Frames(int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += U16(static_cast<unsigned>(i)) + U16(static_cast<unsigned>(-i));
  return s;
}

TEST(WavReader, SkipsOddChunksAndReadsExtensiblePcm) {
  TempDir tmp;
  const std::string guidPcm =
      std::string("\x01\x00\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 16);
  const std::string ext = Fmt(0xFFFE, 2, 48000, 16) + U16(22) + U16(16) + U32(3) + guidPcm;
  const std::string path = tmp / "ext.wav";
  WriteFile(path, Riff(Chunk("LIST", "INFOodd") + Chunk("fmt ", ext) + Chunk("fact", "1234") +
                       Chunk("data", Frames(10)) + Chunk("LIST", "tail")));
  WavReader r;
  std::string error;
  ASSERT_TRUE(r.Open(path, error)) << error;
  EXPECT_TRUE(r.Format().pcm);
  EXPECT_EQ(r.Format().channels, 2);
  EXPECT_EQ(r.Format().sampleRate, 48000u);
  EXPECT_EQ(r.DataBytes(), 40u);
  std::uint8_t buf[64];
  ASSERT_EQ(r.Read(buf, 6), 4u);  // whole frames only
  ASSERT_EQ(r.Read(buf, sizeof buf), 36u);
  EXPECT_EQ(buf[32], 9);
  EXPECT_EQ(r.Read(buf, sizeof buf), 0u);
  EXPECT_FALSE(r.Failed());
}

TEST(WavReader, TellsFormatsApartAndTrustsTheFileLength) {
  TempDir tmp;
  const std::string guidFloat =
      std::string("\x03\x00\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 16);
  const std::string path = tmp / "a.wav";
  WriteFile(path,
            Riff(Chunk("fmt ", Fmt(0xFFFE, 2, 48000, 32) + U16(22) + U16(32) + U32(3) + guidFloat) +
                 Chunk("data", Frames(2))));
  WavReader f;
  std::string error;
  ASSERT_TRUE(f.Open(path, error));
  EXPECT_FALSE(f.Format().pcm);

  // A streaming writer's 0xFFFFFFFF data size, and an odd byte at the end.
  WriteFile(path,
            Riff(Chunk("fmt ", Fmt(1, 2, 44100, 16))) + "data" + U32(0xFFFFFFFF) + Frames(5) + "x");
  WavReader s;
  ASSERT_TRUE(s.Open(path, error)) << error;
  EXPECT_EQ(s.DataBytes(), 20u);

  // The data chunk before the format chunk.
  WriteFile(path, Riff(Chunk("data", Frames(3)) + Chunk("fmt ", Fmt(1, 1, 8000, 16))));
  WavReader d;
  ASSERT_TRUE(d.Open(path, error)) << error;
  EXPECT_EQ(d.Format().channels, 1);
  EXPECT_EQ(d.DataBytes(), 12u);
}

TEST(WavReader, DamagedFilesGiveAReason) {
  TempDir tmp;
  const std::string path = tmp / "bad.wav";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"plain text, not audio\n", "not a WAV file"},
      {"RIFF", "not a WAV file"},
      {Riff(Chunk("data", Frames(3))), "no format chunk"},
      {Riff(Chunk("fmt ", Fmt(1, 2, 48000, 16))), "no data chunk"},
      {Riff(Chunk("fmt ", "short")), "damaged format chunk"},
      {Riff(Chunk("fmt ", Fmt(1, 0, 48000, 16)) + Chunk("data", "")), "damaged format chunk"},
  };
  for (const auto& [content, reason] : cases) {
    WriteFile(path, content);
    WavReader r;
    std::string error;
    EXPECT_FALSE(r.Open(path, error));
    EXPECT_EQ(error, path + ": " + reason);
  }
  WavReader missing;
  std::string error;
  EXPECT_FALSE(missing.Open(tmp / "none.wav", error));
  EXPECT_NE(error.find("No such file"), std::string::npos);
  EXPECT_FALSE(missing.Open(tmp.path(), error));
  EXPECT_EQ(error, tmp.path() + ": not a regular file");
}

}  // namespace
}  // namespace kelvane::cli
