// SPDX-License-Identifier: GPL-3.0-or-later
// The remote control end to end over a real socket, against the player's instrument: every
// key through its range edges into the engine's snapshot and the settings file, the error
// queue, the header forms, and the server's limits.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <charconv>
#include <memory>
#include <string>

#include "CommandTree.h"
#include "PlayInstrument.h"
#include "ProgrammeTable.h"
#include "RemoteServer.h"
#include "ScpiClient.h"
#include "TempDir.h"

namespace kelvane {
namespace {

std::string Fixed(double v, int decimals) {
  char text[64];
  return std::string(
      text, std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, decimals).ptr);
}

struct Bench {
  Bench() {
    remote::ListenAddress a;
    a.port = 0;
    std::string error;
    EXPECT_TRUE(server.Listen(a, error)) << error;
    instrument.running = [this] { return on; };
    instrument.setOutput = [this](bool o, std::string&) { return on = o, true; };
  }
  testing::ScpiClient Connect() {
    return testing::ScpiClient(server.Port(), [this] { server.Process(); });
  }
  testing::TempDir dir;
  SettingsValues values;
  cli::SettingsControls controls{values, values.rds};
  cli::PlayInstrument instrument{values, controls, dir / "vantorex.ini", "1.0"};
  remote::RemoteServer server{instrument};
  bool on = false;
};

TEST(Remote, EveryKeyStepsThroughItsRangeEdgesIntoTheEngineAndTheFile) {
  Bench b;
  auto c = b.Connect();
  const remote::CommandTree& tree = remote::RemoteTree();
  int keys = 0;
  for (const std::string& header : tree.Headers()) {
    const std::string path = header;
    int at = 0;
    for (std::size_t p = 0; at >= 0 && p <= path.size();) {
      const std::size_t colon = std::min(path.find(':', p), path.size());
      at = tree.Child(at, path.substr(p, colon - p));
      p = colon + 1;
    }
    ASSERT_GE(at, 0) << header;
    const SettingsKey* key = tree.Node(at).key;
    if (key == nullptr) continue;
    SCOPED_TRACE(header);
    ++keys;
    const auto programme = FindProgrammeKey(key->name);
    auto expectRefused = [&](const std::string& line, const char* code) {
      const std::string before = c.Query(header + "?");
      c.Send(line);
      EXPECT_EQ(c.Query("SYST:ERR?").substr(0, 4), code) << line;
      EXPECT_EQ(c.Query(header + "?"), before) << line;
    };
    if (key->type == KeyType::Float) {
      const ParamRow& row = ParamInfo(*FindParamByKey(key->name));
      c.Send(header + " MIN");
      EXPECT_EQ(c.Query(header + "?"), Fixed(row.minValue, row.precision));
      expectRefused(header + " " + Fixed(row.minValue - row.increment, 3), "-222");
      c.Send(header + " " + Fixed(row.maxValue, 3));
      EXPECT_EQ(c.Query(header + "?"), Fixed(row.maxValue, row.precision));
      expectRefused(header + " " + Fixed(row.maxValue + row.increment, 3), "-222");
    } else if (programme && (ProgrammeInfo(*programme).kind == ProgrammeKind::Number ||
                             ProgrammeInfo(*programme).kind == ProgrammeKind::Choice)) {
      const ProgrammeRow& row = ProgrammeInfo(*programme);
      c.Send(header + " " + std::to_string(row.minValue));
      expectRefused(header + " " + std::to_string(row.minValue - 1), "-222");
      c.Send(header + " " + std::to_string(row.maxValue));
      EXPECT_EQ(c.Query(header + "?"), std::to_string(row.maxValue));
      expectRefused(header + " " + std::to_string(row.maxValue + 1), "-222");
    } else if (key->type == KeyType::Boolean) {
      c.Send(header + " OFF");
      EXPECT_EQ(c.Query(header + "?"), "0");
      expectRefused(header + " 2", "-224");
      c.Send(header + " on");
      EXPECT_EQ(c.Query(header + "?"), "1");
    }
    EXPECT_EQ(c.Query("SYST:ERR?"), "0,\"No error\"");
  }
  EXPECT_GE(keys, 40);
  // The lists and the texts, with their edges.
  c.Send("SAMP:RATE MIN;RATE?;:BUFF:LENG MAX");
  EXPECT_EQ(c.Line(), "44100");
  EXPECT_EQ(c.Query("BUFF:LENG?"), "1");
  c.Send("SAMP:RATE 22050");
  EXPECT_EQ(c.Query("SYST:ERR?").substr(0, 4), "-224");
  c.Send("SAMP:RATE 192KHZ;:BUFF:LENG 100MS");
  EXPECT_EQ(c.Query("SAMP:RATE?;:BUFF:LENG?"), "192000;0.1");
  c.Send("RDS:PS 'KELVANE9';PS 'TOO LONG!'");
  c.Send("RDS:PI 'C2O1'");
  c.Send("RDS:RT '" + std::string(64, 'x') + "';RT '" + std::string(65, 'y') + "'");
  c.Send("RDS:AF '87.6,107.9'");
  for (const char* refused : {"RDSPS=TOO LONG!: too long", "RDSPI=C2O1: not 1 to 4", "RDSRT=yyy"}) {
    EXPECT_NE(c.Query("SYST:ERR?").find(std::string("-224,\"Illegal parameter value;") + refused),
              std::string::npos);
  }
  EXPECT_EQ(c.Query("RDS:PS?;PI?;AF?"), "\"KELVANE9\";\"FFFF\";\"87.6,107.9\"");
  EXPECT_EQ(c.Query("RDS:RT?"), "\"" + std::string(64, 'x') + "\"");

  // What the engine reads at its next block is what the remote set.
  ControlSnapshot s;
  b.controls.ReadControls(s);
  const SettingsValues now = b.instrument.Settings();
  EXPECT_EQ(s.params.v, now.params.v);
  for (const ParamRow& row : kParamTable) EXPECT_EQ(s.params[row.id], row.maxValue) << row.key;
  EXPECT_TRUE(s.stereo && s.rds && s.dcCoupled && b.controls.MultipathFlag().load());
  EXPECT_EQ(s.programme.pty, 31);
  char ps[8];
  ASSERT_EQ(b.controls.ReadPSText(ps, sizeof ps), 8u);
  EXPECT_EQ(std::string(ps, 8), "KELVANE9");

  // The file holds every key as the instrument holds it.
  c.Send("SYST:SETT:SAVE");
  EXPECT_EQ(c.Query("SYST:ERR?"), "0,\"No error\"");
  const SettingsValues saved = LoadSettingsFile(b.dir / "vantorex.ini");
  for (const SettingsKey& k : SettingsKeys()) {
    EXPECT_EQ(SettingText(saved, k), SettingText(now, k)) << k.name;
  }
  // *RST gives the first-run values with the output off; LOAD brings the file back.
  c.Send("OUTP ON;*RST");
  EXPECT_EQ(c.Query("OUTP?;SINE:PEAK:DEV?;:RDS:PS?"), "0;10.0;\"PS Name\"");
  c.Send("SYST:SETT:LOAD");
  EXPECT_EQ(c.Query("SINE:PEAK:DEV?;:RDS:PS?;:SYST:ERR?"), "150.0;\"KELVANE9\";0,\"No error\"");
}

TEST(Remote, HeaderFormsSuffixesAndChaining) {
  Bench b;
  auto c = b.Connect();
  EXPECT_EQ(c.Query("*idn?"), "Kelvane,FM I/Q modulator,0,1.0");
  c.Send("sine:peak:deviation 12.35;:Sine:Peak:Dev?");
  EXPECT_EQ(c.Line(), "12.4");  // rounded as the spinner shows it
  // A relative header continues from the previous command's node.
  c.Send("RDS:PS 'A';PI 'BEEF';:CARRier:FREQuency -30KHZ");
  EXPECT_EQ(c.Query("RDS:PS?;PI?;:CARR:FREQ?"), "\"A\";\"BEEF\";-30000");
  c.Send("SINE:PEAK:DEV 150000HZ;:SINE:MOD:FREQ 0.06MHZ;:LR:PHAS:OFFS -180DEG;:DC:OFFS:L 90PCT");
  EXPECT_EQ(c.Query("SINE:PEAK:DEV?;:SINE:MOD:FREQ?;:LR:PHAS:OFFS?;:DC:OFFS:L?"),
            "150.0;60000;-180.0;90.00");
  c.Send("SINE:PEAK:DEV 150.1KHZ;:CARR:FREQ 5DEG;:SINE:PEAK:DEV? MAX");
  EXPECT_EQ(c.Line(), "150.0");
  EXPECT_EQ(
      c.Query("SYST:ERR?;ERR?"),
      "-222,\"Data out of range;SinePeakDev: 150.1 is outside kHz 0.0 .. 150.0 (HZ, KHZ, MHZ)\";"
      "-131,\"Invalid suffix;CarrierFreq: suffix DEG does not fit the unit Hz\"");
  EXPECT_EQ(c.Query("OUTP:STAT 1;:OUTP?"), "1");
  EXPECT_TRUE(b.on);
}

TEST(Remote, ErrorQueueAfterBadHeadersGarbageAndOverflow) {
  Bench b;
  auto c = b.Connect();
  c.Send("SINE:PEAK:WOBBLE 3");                     // -113
  c.Send("SINE:PEAK:DEV");                          // -109
  c.Send("SINE:PEAK:DEV 1,2");                      // -108
  c.Send("SINE:PEAK:DEV abc");                      // -104
  c.SendRaw(std::string("OUTP\x01\xff ON\n", 10));  // -101, the rest of the line unread
  c.Send("OUTP:,ON;*IDN?");                         // -102 skips the rest of the line
  c.Send("MEAS:DEV");                               // -113: a query only
  c.Send("RDS:PI 12345");                           // -104: a string is expected
  EXPECT_EQ(c.Query("*ESR?"), "32");                // the command error bit
  for (const char* code : {"-113", "-109", "-108", "-104", "-101", "-102", "-113", "-104"}) {
    EXPECT_EQ(c.Query("SYST:ERR?").substr(0, 4), code);
  }
  EXPECT_EQ(c.Query("SYST:ERR?"), "0,\"No error\"");
  EXPECT_FALSE(b.on);
  for (int i = 0; i < 20; ++i) c.Send("NOPE");
  EXPECT_EQ(c.Query("SYST:ERR:COUN?"), "16");
  for (int i = 0; i < 15; ++i) c.Query("SYST:ERR?");
  EXPECT_EQ(c.Query("SYST:ERR?"), "-350,\"Queue overflow\"");
  c.Send("NOPE;*CLS");
  EXPECT_EQ(c.Query("SYST:ERR?"), "-113,\"Undefined header;NOPE\"");  // *CLS was skipped
  c.Send("*CLS");
  EXPECT_EQ(c.Query("SYST:ERR:COUN?;*ESR?"), "0;0");
}

TEST(Remote, ServerLimitsFloodingHalfCloseAndBusyPort) {
  Bench b;
  std::vector<std::unique_ptr<testing::ScpiClient>> clients;
  for (int i = 0; i < 4; ++i) {
    clients.push_back(
        std::make_unique<testing::ScpiClient>(b.server.Port(), [&b] { b.server.Process(); }));
  }
  auto fifth = b.Connect();
  EXPECT_EQ(fifth.Line(), "-310,\"System error;all 4 remote connections are in use\"");
  EXPECT_EQ(fifth.Line(), "<closed>");
  EXPECT_EQ(b.server.ClientCount(), 4u);
  // 4096 bytes are a line (an undefined header); one more is flooding: error, then closed.
  clients[0]->Send(std::string(4096, 'A'));
  EXPECT_EQ(clients[0]->Query("SYST:ERR?").substr(0, 4), "-113");
  clients[1]->SendRaw(std::string(5000, '\x07'));
  EXPECT_EQ(clients[1]->Line().substr(0, 4), "-363");
  EXPECT_EQ(clients[1]->Line(), "<closed>");
  EXPECT_EQ(b.server.ClientCount(), 3u);
  // A client that half-closes still gets its answers, then the connection ends.
  clients[2]->Send("*OPC?;:OUTP?");
  ::shutdown(clients[2]->Fd(), SHUT_WR);
  EXPECT_EQ(clients[2]->Line(), "1;0");
  EXPECT_EQ(clients[2]->Line(), "<closed>");
  EXPECT_EQ(b.server.ClientCount(), 2u);
  // The slot of a vanished client is free again for the next one.
  clients[3]->Close();
  auto next = b.Connect();
  EXPECT_EQ(next.Query("OUTP?"), "0");
  // A second server on the same port is refused with a reason.
  remote::RemoteServer other(b.instrument);
  remote::ListenAddress same;
  same.port = b.server.Port();
  std::string error;
  EXPECT_FALSE(other.Listen(same, error));
  EXPECT_NE(error.find("port " + std::to_string(same.port) + ": the port is in use"),
            std::string::npos)
      << error;
}

TEST(Remote, ListenAddresses) {
  remote::ListenAddress a;
  std::string error;
  ASSERT_TRUE(remote::ParseListenAddress("5025", a, error));
  EXPECT_EQ(a.host, "127.0.0.1");
  EXPECT_EQ(remote::ExposureWarning(a), "");
  ASSERT_TRUE(remote::ParseListenAddress("0.0.0.0:6000", a, error));
  EXPECT_EQ(a.port, 6000);
  EXPECT_NE(remote::ExposureWarning(a).find("anyone on that network can"), std::string::npos);
  ASSERT_TRUE(remote::ParseListenAddress("[::1]:5025", a, error));
  EXPECT_EQ(remote::ExposureWarning(a), "");
  for (const char* bad : {"", "0", "65536", "host:", "1.2.3.4:x", "::1:5025"}) {
    EXPECT_FALSE(remote::ParseListenAddress(bad, a, error)) << bad;
  }
}

}  // namespace
}  // namespace kelvane
