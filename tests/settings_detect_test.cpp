// Settings, the autofocus decision, identification and detection.
#include "support/driver_fixture.h"

#include <cstring>
#include <tuple>

namespace {

class Settings : public DriverTest {};

TEST_F(Settings, AutofocusFollowsTheHostReleasesUnlessSetExplicitly) {
  const struct Case {
    std::vector<std::pair<std::string, std::string>> releases;  // "": a subkey without a release
    uint32_t setting;                                           // 0: not set
    uint32_t mode, caps, minor;
    std::vector<std::string> lines;
  } cases[] = {
      {{}, 0, BLIND_AUTOFOCUS, 0x201, 313, {"supported: BLIND_AUTOFOCUS"}},
      {{{"Previsa 12", "Release 12"}, {"Previsa 15", "Release 15"}}, 0, MIDI_AUTOFOCUS, 0x9, 311,
       {" Key = Previsa 12 ", " ver_name = Release 15 - 15 ", "supported: MIDI_AUTOFOCUS"}},
      {{{"a", "Release 14"}, {"b", "Version 3"}, {"c", "Release -1"}, {"d", ""}}, 0, BLIND_AUTOFOCUS, 0x201, 313,
       {" ver_name = Version 3 - 0 ", " Key = d "}},
      {{{"old", "Release 11"}}, 4, 0, 0x1, 311, {"Autofocus explicit switched off"}},
      {{{"old", "Release 11"}}, 1, BLIND_AUTOFOCUS, 0x201, 313, {"Autofocus explicit set to BLIND_AUTOFOCUS"}},
      {{{"old", "Release 11"}}, 3, MIDI_AUTOFOCUS, 0x9, 311, {}},  // not a choice: ignored
      {{}, 2, MIDI_AUTOFOCUS, 0x9, 311, {"Autofocus explicit set to MIDI_AUTOFOCUS"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("case " + std::to_string(&c - cases));
    registry.Clear();
    ResetDriverState();
    for (const auto& r : c.releases)
      registry.SetString(OsRegRoot::LocalMachine, kHostKey + ("\\" + r.first),
                         r.second.empty() ? "Other" : "ReleaseVer", r.second.empty() ? "x" : r.second);
    if (c.setting != 0) registry.Setting("Autofocus", c.setting);
    const int from = static_cast<int>(echo.Messages().size());
    DetectAutofocusSupport();
    uint32_t major = 0, minor = 0;
    GetVersionInfo(&major, &minor);
    EXPECT_EQ(std::make_tuple(AutofocusMode, GetDriverCaps(), GetDevCaps(), major, minor),
              std::make_tuple(c.mode, c.caps, c.caps, 3u, c.minor));
    for (const std::string& line : c.lines) EXPECT_GE(echo.Find(line, from), 0) << line;
  }
}

TEST_F(Settings, InterfaceAndConsolesAreReadAtInitAndAtEvery201stServiceCall) {
  const uint32_t kNone = 0xFFFFFFFFu;
  // The interface's address, then the three consoles.
  const auto read = [] {
    return std::vector<uint32_t>{InterfaceAddr, ConsoleNumbers[0], ConsoleNumbers[1], ConsoleNumbers[2]};
  };
  EXPECT_EQ(InterfaceAddr.load(), ParseDottedAddress("127.0.0.255"));
  Init();  // nothing set
  EXPECT_EQ(read(), (std::vector<uint32_t>{kNone, kNone, kNone, kNone}));

  registry.Setting("ip", "10.1.2.3");
  registry.Setting("Trivane1", 31u);
  registry.Setting("Trivane2", 0u);
  registry.Setting("Trivane3", 7u);
  Init();
  EXPECT_EQ(read(), (std::vector<uint32_t>{ParseDottedAddress("10.1.2.3"), 31, kNone, 7}));
  EXPECT_TRUE(echo.Contains("Init"));

  registry.Setting("Trivane2", 40u);
  registry.Setting("Trivane3", 32u);
  registry.Setting("ip", "192.168.100.200/garbage");  // only 18 characters count
  Init();
  EXPECT_EQ(read(), (std::vector<uint32_t>{kNone, 31, kNone, 7}));  // consoles out of range: the earlier values stay
  EXPECT_STREQ(InterfaceText, "192.168.100.200/ga");

  registry.Clear();
  Init();  // "ip" gone: the failure value, every time
  EXPECT_EQ(read(), (std::vector<uint32_t>{kNone, 31, kNone, 7}));

  // Counted from the load, then from each reread.
  for (uint32_t console : {1u, 2u}) {
    registry.Setting("Trivane1", console);
    for (int i = 0; i < 200; ++i) ServiceDevices();
    EXPECT_EQ(ConsoleNumbers[0], console == 1 ? 31u : 1u);
    ServiceDevices();
    EXPECT_EQ(ConsoleNumbers[0], console);
  }
}

TEST_F(Settings, BrandingTexts) {
  const char *text = nullptr, *again = nullptr, *support = nullptr, *untouched = "keep";
  EXPECT_EQ(
      (std::vector<int32_t>{GetBrandingString(PM_BRAND_AUTH_STR, &text), GetBrandingString(PM_BRAND_AUTH_STR, &again),
                            GetBrandingString(PM_BRAND_SUPPORT_STR, &support), GetBrandingString(2, &untouched),
                            GetBrandingString(PM_BRAND_AUTH_STR, nullptr)}),
      (std::vector<int32_t>{1, 1, 1, 0, 0}));
  ASSERT_TRUE(text != nullptr && std::strlen(text) == 3);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(text[i] >= 'A' && text[i] <= 'Z');
  EXPECT_EQ(again, text);
  EXPECT_STREQ(support, "For support please contact:\n\nHalvard Group Inc.\n\n");
  EXPECT_STREQ(untouched, "keep");
}

class Detection : public DriverTest {};

TEST_F(Detection, ReportsTheThreeConfiguredConsolesInOrderAndStopsAtAFullListWithoutConnecting) {
  LoopbackSettings(4, 0, 9);
  static PDIList list;
  std::memset(&list, 0, sizeof list);
  list.Records[1].Data[1] = 0x5A;  // the host's own bytes stay
  EXPECT_EQ((std::vector<int32_t>{StartDetect(77, &list), ContinueDetect(77, &list), ContinueDetect(77, &list),
                                  ContinueDetect(77, &list)}),
            (std::vector<int32_t>{0, 0, 0, 1}));
  EXPECT_EQ(list.Count, 3u);
  const uint8_t expected[3] = {4, 255, 9};
  for (int i = 0; i < 3; ++i) {
    const PDI& p = list.Records[i];
    EXPECT_EQ(
        std::make_tuple(p.ManHdl, std::string(p.Protocol), std::string(p.Model), std::string(p.Address), p.Data[0]),
        std::make_tuple(uint16_t{77}, "DMX", "Trivane", "Trivane " + std::to_string(i + 1), expected[i]));
  }
  EXPECT_EQ(list.Records[1].Data[1], 0x5A);
  EXPECT_TRUE(echo.Contains("StartDetect: ManHdl == 77,Protocol == DMX"));
  EXPECT_TRUE(echo.Contains("ContinueDetect: Address == Trivane 3"));

  list.Count = 31;
  EXPECT_EQ((std::vector<int32_t>{StartDetect(1, &list), ContinueDetect(1, &list)}), (std::vector<int32_t>{0, 1}));
  DetectIndex = 2;
  EXPECT_EQ(StartDetect(1, &list), 1);  // full: nothing written, the run restarts
  EXPECT_EQ(std::make_pair(DetectIndex, uint32_t{list.Count}), std::make_pair(0, 32u));
  EXPECT_EQ((std::vector<int32_t>{StartDetect(1, nullptr), ContinueDetect(1, nullptr)}), (std::vector<int32_t>{1, 1}));
  EXPECT_TRUE(echo.Contains("StartDetect: Exception"));

  // Without a session every device answer is "not connected".
  uint8_t* untouched = nullptr;
  EXPECT_EQ((std::vector<int32_t>{GetNumPorts(1), GetNumChannels(1, 0), LockPortBuffer(1, 0),
                                  GetPortBuffer(1, 0, &untouched), UnlockPortBuffer(1, 0)}),
            std::vector<int32_t>(5, -1));
  EXPECT_EQ(GetPortCaps(1, 0), 0u);
  EXPECT_EQ(Connect(nullptr), 0xFFFF);
  Disconnect(3);
  EXPECT_TRUE(echo.Contains("Error Disconnect 3"));
}

}  // namespace
