// Settings, the autofocus decision, identification and detection.
#include "support/driver_fixture.h"

#include <cstring>

namespace {

class Settings : public DriverTest {};

TEST_F(Settings, WithoutTheHostKeyAutofocusIsBlind) {
  DetectAutofocusSupport();
  EXPECT_EQ(AutofocusMode, BLIND_AUTOFOCUS);
  EXPECT_EQ(GetDriverCaps(), 0x201u);
  EXPECT_EQ(GetDevCaps(), 0x201u);
  uint32_t major = 0, minor = 0;
  GetVersionInfo(&major, &minor);
  EXPECT_EQ(major, 3u);
  EXPECT_EQ(minor, 313u);
  EXPECT_TRUE(echo.Contains("supported: BLIND_AUTOFOCUS"));
}

TEST_F(Settings, OneOldHostReleaseGivesMidiAutofocus) {
  registry.HostRelease("Previsa 12", "Release 12");
  registry.HostRelease("Previsa 15", "Release 15");
  DetectAutofocusSupport();
  EXPECT_EQ(AutofocusMode, MIDI_AUTOFOCUS);
  EXPECT_EQ(GetDriverCaps(), 0x9u);
  uint32_t major = 0, minor = 0;
  GetVersionInfo(&major, &minor);
  EXPECT_EQ(minor, 311u);
  EXPECT_TRUE(echo.Contains(" Key = Previsa 12 "));
  EXPECT_TRUE(echo.Contains(" ver_name = Release 15 - 15 "));
  EXPECT_TRUE(echo.Contains("supported: MIDI_AUTOFOCUS"));
}

TEST_F(Settings, NewOrUnreadableReleasesLeaveBlindAutofocus) {
  registry.HostRelease("a", "Release 14");
  registry.HostRelease("b", "Version 3");
  registry.HostRelease("c", "Release -1");
  registry.SetString(OsRegRoot::LocalMachine, std::string(kHostKey) + "\\d", "Other", "x");
  DetectAutofocusSupport();
  EXPECT_EQ(AutofocusMode, BLIND_AUTOFOCUS);
  EXPECT_TRUE(echo.Contains(" ver_name = Version 3 - 0 "));
  EXPECT_TRUE(echo.Contains(" Key = d "));
}

TEST_F(Settings, AnExplicitAutofocusSettingOverridesTheReleases) {
  registry.HostRelease("old", "Release 11");
  registry.Setting("Autofocus", 4u);
  DetectAutofocusSupport();
  EXPECT_EQ(AutofocusMode, 0u);
  EXPECT_EQ(GetDriverCaps(), 0x1u);
  uint32_t major = 0, minor = 0;
  GetVersionInfo(&major, &minor);
  EXPECT_EQ(minor, 311u);
  EXPECT_TRUE(echo.Contains("Autofocus explicit switched off"));

  ResetDriverState();
  registry.Setting("Autofocus", 1u);
  DetectAutofocusSupport();
  EXPECT_EQ(AutofocusMode, BLIND_AUTOFOCUS);
  EXPECT_TRUE(echo.Contains("Autofocus explicit set to BLIND_AUTOFOCUS"));

  ResetDriverState();
  registry.Setting("Autofocus", 3u);  // not a choice: ignored
  DetectAutofocusSupport();
  EXPECT_EQ(AutofocusMode, MIDI_AUTOFOCUS);
}

TEST_F(Settings, ExplicitMidiWithoutAnyRelease) {
  registry.Setting("Autofocus", 2u);
  DetectAutofocusSupport();
  EXPECT_EQ(AutofocusMode, MIDI_AUTOFOCUS);
  EXPECT_TRUE(echo.Contains("Autofocus explicit set to MIDI_AUTOFOCUS"));
}

TEST_F(Settings, InterfaceAndConsoleNumbers) {
  EXPECT_EQ(InterfaceAddr.load(), ParseDottedAddress("127.0.0.255"));
  Init();  // nothing set
  EXPECT_EQ(InterfaceAddr.load(), 0xFFFFFFFFu);
  EXPECT_EQ(ConsoleNumbers[0], 0xFFFFFFFFu);

  registry.Setting("ip", "10.1.2.3");
  registry.Setting("Trivane1", 31u);
  registry.Setting("Trivane2", 0u);
  registry.Setting("Trivane3", 7u);
  Init();
  EXPECT_EQ(InterfaceAddr.load(), ParseDottedAddress("10.1.2.3"));
  EXPECT_EQ(ConsoleNumbers[0], 31u);
  EXPECT_EQ(ConsoleNumbers[1], 0xFFFFFFFFu);
  EXPECT_EQ(ConsoleNumbers[2], 7u);
  EXPECT_TRUE(echo.Contains("Init"));

  registry.Setting("Trivane2", 40u);
  registry.Setting("Trivane3", 32u);
  registry.Setting("ip", "192.168.100.200/garbage");  // only 18 characters count
  Init();
  EXPECT_EQ(ConsoleNumbers[1], 0xFFFFFFFFu);
  EXPECT_EQ(ConsoleNumbers[2], 7u);  // out of range: the earlier value stays
  EXPECT_STREQ(InterfaceText, "192.168.100.200/ga");
  EXPECT_EQ(InterfaceAddr.load(), 0xFFFFFFFFu);

  registry.Clear();
  Init();  // "ip" gone: the failure value, every time
  EXPECT_EQ(InterfaceAddr.load(), 0xFFFFFFFFu);
  EXPECT_EQ(ConsoleNumbers[0], 31u);
}

TEST_F(Settings, ServiceDevicesRereadsOnEvery201stCall) {
  registry.Setting("Trivane1", 1u);
  Init();
  registry.Setting("Trivane1", 2u);
  for (int i = 0; i < 200; ++i) ServiceDevices();
  EXPECT_EQ(ConsoleNumbers[0], 1u);
  ServiceDevices();
  EXPECT_EQ(ConsoleNumbers[0], 2u);
  registry.Setting("Trivane1", 3u);
  for (int i = 0; i < 200; ++i) ServiceDevices();
  EXPECT_EQ(ConsoleNumbers[0], 2u);
  ServiceDevices();  // the 402nd
  EXPECT_EQ(ConsoleNumbers[0], 3u);
}

TEST_F(Settings, BrandingTexts) {
  const char* text = nullptr;
  EXPECT_EQ(GetBrandingString(PM_BRAND_AUTH_STR, &text), 1);
  ASSERT_NE(text, nullptr);
  ASSERT_EQ(std::strlen(text), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(text[i] >= 'A' && text[i] <= 'Z');
  const char* again = nullptr;
  GetBrandingString(PM_BRAND_AUTH_STR, &again);
  EXPECT_EQ(again, text);
  EXPECT_EQ(GetBrandingString(PM_BRAND_SUPPORT_STR, &text), 1);
  EXPECT_STREQ(text, "For support please contact:\n\nHalvard Group Inc.\n\n");
  const char* untouched = "keep";
  EXPECT_EQ(GetBrandingString(2, &untouched), 0);
  EXPECT_STREQ(untouched, "keep");
  EXPECT_EQ(GetBrandingString(PM_BRAND_AUTH_STR, nullptr), 0);
}

class Detection : public DriverTest {};

TEST_F(Detection, ReportsTheThreeConfiguredConsolesInOrder) {
  registry.Setting("Trivane1", 4u);
  registry.Setting("Trivane3", 9u);
  Init();
  static PDIList list;
  std::memset(&list, 0, sizeof list);
  list.Records[1].Data[1] = 0x5A;  // the host's own bytes stay
  EXPECT_EQ(StartDetect(77, &list), 0);
  EXPECT_EQ(list.Count, 1u);
  EXPECT_EQ(ContinueDetect(77, &list), 0);
  EXPECT_EQ(ContinueDetect(77, &list), 0);
  EXPECT_EQ(list.Count, 3u);
  EXPECT_EQ(ContinueDetect(77, &list), 1);
  EXPECT_EQ(list.Count, 3u);
  const uint8_t expected[3] = {4, 255, 9};
  for (int i = 0; i < 3; ++i) {
    const PDI& pdi = list.Records[i];
    EXPECT_EQ(pdi.ManHdl, 77);
    EXPECT_STREQ(pdi.Protocol, "DMX");
    EXPECT_STREQ(pdi.Model, "Trivane");
    EXPECT_EQ(std::string(pdi.Address), "Trivane " + std::to_string(i + 1));
    EXPECT_EQ(pdi.Data[0], expected[i]);
  }
  EXPECT_EQ(list.Records[1].Data[1], 0x5A);
  EXPECT_TRUE(echo.Contains("StartDetect: ManHdl == 77,Protocol == DMX"));
  EXPECT_TRUE(echo.Contains("ContinueDetect: Address == Trivane 3"));
}

TEST_F(Detection, StopsAtAFullList) {
  static PDIList list;
  std::memset(&list, 0, sizeof list);
  list.Count = 31;
  EXPECT_EQ(StartDetect(1, &list), 0);
  EXPECT_EQ(list.Count, 32u);
  EXPECT_EQ(ContinueDetect(1, &list), 1);
  DetectIndex = 2;
  EXPECT_EQ(StartDetect(1, &list), 1);  // full: nothing written, the run restarts
  EXPECT_EQ(DetectIndex, 0);
  EXPECT_EQ(list.Count, 32u);
  EXPECT_EQ(StartDetect(1, nullptr), 1);
  EXPECT_EQ(ContinueDetect(1, nullptr), 1);
  EXPECT_TRUE(echo.Contains("StartDetect: Exception"));
}

TEST_F(Detection, WithoutASessionEveryDeviceAnswerIsNotConnected) {
  EXPECT_EQ(GetNumPorts(1), -1);
  EXPECT_EQ(GetPortCaps(1, 0), 0u);
  EXPECT_EQ(GetNumChannels(1, 0), -1);
  EXPECT_EQ(LockPortBuffer(1, 0), -1);
  uint8_t* untouched = reinterpret_cast<uint8_t*>(&untouched);
  EXPECT_EQ(GetPortBuffer(1, 0, &untouched), -1);
  EXPECT_EQ(UnlockPortBuffer(1, 0), -1);
  EXPECT_EQ(Connect(nullptr), 0xFFFF);
  Disconnect(3);
  EXPECT_TRUE(echo.Contains("Error Disconnect 3"));
}

}  // namespace
