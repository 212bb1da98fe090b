// The bridge wizard's core: the neighbour scan through the real engine handlers into the
// real store and back out as the list the first step shows, the security and IP steps'
// rules, and the body of the bridge command.

#include "actions/bridge_wizard.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "core/engine_fakes.h"
#include "presentation/ap_scan_list.h"
#include "rules/bridge_rules.h"
#include "store/sql_management.h"
#include "support/fake_device_engine.h"
#include "support/temp_dir.h"

using namespace fd;
using namespace fd::test;

namespace {

const std::string kStation = "02:fd:00:00:00:07";
const std::string kStationIp = "198.18.1.7";

config_otherwl_basic Neighbour(int n, int signal, int secureMode = 0) {
    config_otherwl_basic ap{};
    const uint8_t mac[6] = {0x02, 0xaa, 0, 0, 0, static_cast<uint8_t>(n)};
    std::memcpy(ap.mac, mac, 6);
    ap.signal = static_cast<int8_t>(signal);
    ap.channel = static_cast<uint8_t>(1 + n % 11);
    ap.secure_mode = static_cast<uint8_t>(secureMode);
    SetFieldText(ap.ssid, sizeof ap.ssid, ap.ssid_len, "ap-" + std::to_string(n));
    return ap;
}

// The real engine (no socket, sends recorded) writing into a real store.
class ScanThroughEngine : public ::testing::Test {
protected:
    TempDir dir;
    std::unique_ptr<CSqlManagement> store;
    Recorder sent;
    std::unique_ptr<CDeviceProtocol> engine;

    void SetUp() override {
        ASSERT_TRUE(dir.Ok());
        store = std::make_unique<CSqlManagement>(dir.Path("data.mdb"));
        ASSERT_TRUE(store->IsOpen());
        DeviceProtocolOptions o;
        o.store = store.get();
        o.sendHook = sent.Hook();
        o.adapterSource = [] { return std::vector{MakeAdapter({{"198.18.0.1", "255.255.0.0"}})}; };
        o.openSockets = false;
        engine = std::make_unique<CDeviceProtocol>(o);
        std::vector<LocalAdapterInfo> list;
        engine->ReadLocalAdapters(list);
    }
    void Result(const std::vector<uint8_t>& body) {
        engine->InjectDatagram(CDeviceProtocol::PORT_REPLY,
                               DeviceDatagram(CMD_SCAN, kStation, body), kStationIp);
        engine->ProcessQueue(CDeviceProtocol::PORT_REPLY);
    }
};

TEST_F(ScanThroughEngine, FortyNeighboursInTwoPacketsListStrongestFirst) {
    // Left over from an earlier scan: the new one starts from an empty table.
    const config_otherwl_basic stale = Neighbour(200, -30);
    Result(EncodeScanResult(1, 0, {&stale, 1}));

    ApScanWait wait(*engine, *store);
    ASSERT_TRUE(wait.Start(kStationIp, kStation));
    ASSERT_EQ(sent.All().size(), 1u);
    EXPECT_EQ(sent.All()[0].header.command, CMD_SCAN);
    EXPECT_EQ(MacToText(sent.All()[0].header.mac), kStation);
    EXPECT_FALSE(wait.Tick());

    std::vector<config_otherwl_basic> aps;
    for (int i = 0; i < 40; ++i) aps.push_back(Neighbour(i, -40 - i));
    // The first of two packets does not end the wait, and a packet naming itself beyond
    // the count adds nothing.
    Result(EncodeScanResult(2, 0, std::span(aps).first(31)));
    const config_otherwl_basic stray = Neighbour(99, -20);
    Result(EncodeScanResult(2, 5, {&stray, 1}));
    EXPECT_FALSE(wait.Tick());
    // A last packet that claims more entries than it carries, the last one cut short.
    std::vector<uint8_t> last = EncodeScanResult(2, 1, std::span(aps).subspan(31));
    last[2] = 31;
    last.resize(last.size() + 20, 0x7F);
    Result(last);
    EXPECT_TRUE(wait.Tick());
    EXPECT_TRUE(wait.Completed());
    EXPECT_EQ(wait.Seconds(), 3);

    ApScanList list(*store);
    const auto& rows = list.Reload();
    ASSERT_EQ(rows.size(), 40u);
    EXPECT_EQ(rows.front().mac, "02:aa:00:00:00:00");  // -40 dBm, the strongest
    EXPECT_EQ(rows.front().icon, 5);
    EXPECT_EQ(rows.back().signal, -79);
    EXPECT_EQ(rows.back().icon, 1);
    EXPECT_EQ(rows[5].ssid, "ap-5");
    EXPECT_EQ(rows[5].channel, "6");

    // The signal header sorts weakest first; the tick header changes nothing.
    EXPECT_FALSE(list.HeaderClick(kScanTickColumn));
    EXPECT_TRUE(list.HeaderClick(kScanSignalColumn));
    EXPECT_EQ(list.Rows().front().signal, -79);
    EXPECT_TRUE(list.HeaderClick(kScanMacColumn));
    EXPECT_EQ(list.Rows().front().mac, "02:aa:00:00:00:27");  // the order flipped again
}

TEST_F(ScanThroughEngine, SilentDeviceEndsTheWaitAtThirtySecondsWithWhatArrived) {
    ApScanWait wait(*engine, *store);
    ASSERT_TRUE(wait.Start(kStationIp, kStation));
    const config_otherwl_basic first = Neighbour(1, -70);
    Result(EncodeScanResult(3, 0, {&first, 1}));  // packets 1 and 2 never come
    for (int s = 1; s < ApScanWait::kLimitSeconds; ++s) ASSERT_FALSE(wait.Tick()) << s;
    EXPECT_TRUE(wait.Tick());
    EXPECT_FALSE(wait.Completed());
    ApScanList list(*store);
    ASSERT_EQ(list.Reload().size(), 1u);
    EXPECT_EQ(list.Rows()[0].icon, 3);
}

TEST(ApScanWait, RequestThatCannotLeaveEndsTheWaitAtOnce) {
    struct NoRoute : RecordingEngine {
        bool SendToDevice(const std::string&, int, const void*, int, const std::string&,
                          bool) override {
            return false;
        }
    } engine;
    FakeStore store;
    ApScanWait wait(engine, store);
    EXPECT_FALSE(wait.Start("10.9.9.9", kStation));
    EXPECT_TRUE(wait.Tick());
    EXPECT_FALSE(wait.Completed());
}

TEST(ApScanList, SignalIconsAndSecurityLabels) {
    struct Case {
        int dbm, icon;
    } cases[] = {{-90, 1}, {-75, 1}, {-74, 3}, {-60, 3}, {-59, 5}, {-10, 5}};
    for (auto c : cases) EXPECT_EQ(SignalIconIndex(c.dbm), c.icon) << c.dbm;
    EXPECT_STREQ(ScanSecurityLabel(1), "WEP");
    EXPECT_STREQ(ScanSecurityLabel(9), "WPA/WPA2-PSK/TKIP&AES");
    EXPECT_STREQ(ScanSecurityLabel(10), "WPA-PSK/TKIP&AES");
    EXPECT_STREQ(ScanSecurityLabel(77), "WPA-PSK/TKIP&AES");
}

TEST(ApScanList, OneTickAtATime) {
    TempDir dir;
    CSqlManagement store(dir.Path("data.mdb"));
    std::vector<config_otherwl_basic> aps{Neighbour(1, -50), Neighbour(2, -60), Neighbour(3, -70)};
    ASSERT_TRUE(store.SaveOtherApList(DecodeScanResult(EncodeScanResult(1, 0, aps))));
    ApScanList list(store);
    list.Reload();
    EXPECT_TRUE(list.ClickRow(0));
    EXPECT_TRUE(list.ClickRow(2));  // ticking another row unticks the first
    EXPECT_FALSE(list.IsTicked(0));
    EXPECT_EQ(list.TickedRow(), 2u);
    EXPECT_FALSE(list.ClickRow(2));  // unticking the only tick leaves none
    EXPECT_FALSE(list.TickedRow().has_value());
    EXPECT_TRUE(list.ClickRow(1));
    list.HeaderClick(1);  // a refill drops the tick with the rows
    EXPECT_FALSE(list.TickedRow().has_value());
}

TEST(BridgeSecurity, PrefillFollowsTheAccessPointAndWpaPskRefusesTkipAes) {
    BridgeSecurityView v = PrefillBridgeSecurity(10, PskCipher::Aes);
    EXPECT_EQ(v.code, kBridgeSecurityWpaPsk);
    EXPECT_EQ(v.cipher, PskCipher::TkipAes);  // as reported, though WPA-PSK disables it
    EXPECT_FALSE(v.tkipAesEnabled);
    EXPECT_TRUE(v.keyEnabled);
    // Choosing WPA-PSK again moves the tick; WPA2-PSK keeps it.
    EXPECT_EQ(ChangeBridgeSecurity(kBridgeSecurityWpaPsk, v.cipher, false).cipher, PskCipher::Aes);
    EXPECT_EQ(ChangeBridgeSecurity(kBridgeSecurityWpa2Psk, PskCipher::TkipAes, false).cipher,
              PskCipher::TkipAes);

    struct Case {
        int apMode, code;
        PskCipher cipher;
    } cases[] = {{3, kBridgeSecurityWpaPsk, PskCipher::Tkip},
                 {5, kBridgeSecurityWpa2Psk, PskCipher::Tkip},
                 {7, kBridgeSecurityMixedPsk, PskCipher::Aes},
                 {9, kBridgeSecurityMixedPsk, PskCipher::TkipAes},
                 {0, kBridgeSecurityNone, PskCipher::Tkip},
                 {42, kBridgeSecurityNone, PskCipher::Tkip}};
    for (auto c : cases) {
        v = PrefillBridgeSecurity(c.apMode, PskCipher::Tkip);
        EXPECT_EQ(v.code, c.code) << c.apMode;
        EXPECT_EQ(v.cipher, c.cipher) << c.apMode;
        EXPECT_EQ(v.keyEnabled, c.code != kBridgeSecurityNone) << c.apMode;
        EXPECT_FALSE(v.wepShown);
    }

    // A WEP access point: its keys, not a pre-shared key, and the list offers WEP.
    v = PrefillBridgeSecurity(1, PskCipher::Aes);
    EXPECT_EQ(v.code, kBridgeSecurityWep);
    EXPECT_TRUE(v.wepShown && v.offerWep);
    EXPECT_FALSE(v.keyEnabled || v.aesEnabled);
    EXPECT_EQ(BridgeSecurityEntries(v.offerWep).back().code, kBridgeSecurityWep);
    EXPECT_EQ(BridgeSecurityEntries(false).size(), 4u);
    v = ChangeBridgeSecurity(kBridgeSecurityNone, v.cipher, v.offerWep);
    EXPECT_FALSE(v.wepShown);
    EXPECT_TRUE(v.offerWep);
}

TEST(BridgeSecurity, KeysAreCheckedBeforeTheBlockIsFilled) {
    BridgeSecurityForm f;
    f.apMac = {0x02, 0xaa, 0, 0, 0, 1};
    f.ssid = "\xE5\xA1\x94\xE6\x9E\xB6-north";  // 塔架-north: 12 bytes, 8 characters
    f.channel = 44;
    f.code = kBridgeSecurityWpa2Psk;
    f.cipher = PskCipher::TkipAes;
    const std::string psk = "Please enter a key for 8~63 ASCII characters or 8~64 HEX characters!";

    f.key = std::string(63, 'g');  // 63 ASCII characters: fine
    BridgeSecurityResult r = CheckBridgeSecurity(f, 1);
    ASSERT_TRUE(r.ok()) << r.messageKey;
    f.key = std::string(64, 'g');  // 64 must be hex
    EXPECT_EQ(CheckBridgeSecurity(f, 1).messageKey, psk);
    f.key = "short";
    EXPECT_EQ(CheckBridgeSecurity(f, 1).messageKey, psk);
    f.key = std::string(64, 'a');
    r = CheckBridgeSecurity(f, 1);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.block.wpapsk_key_len, 64);
    EXPECT_EQ(r.block.wpapsk_auth_type, 2);
    EXPECT_EQ(uint32_t{r.block.wpapsk_key_time}, 0u);  // the hidden interval counts as 0

    // Through the body: the SSID's bytes, not its characters, at block byte 40.
    const auto* b = reinterpret_cast<const uint8_t*>(&r.block);
    const BridgeConfigBody body = MakeBridgeBody(r.block, IpConfigBlock{});
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(&body)[40], 12);
    EXPECT_EQ(std::memcmp(b + 8, f.ssid.data(), 12), 0);
    EXPECT_EQ(b[7], 44);

    // The SSID first, by the model's rule; an open access point needs no key at all.
    f.ssid = "";
    EXPECT_EQ(CheckBridgeSecurity(f, 1).messageKey, "The ssid can not be empty!");
    f.ssid = "mast ap";  // no blanks on the strict models
    f.code = kBridgeSecurityNone;
    EXPECT_EQ(CheckBridgeSecurity(f, 4).messageKey,
              "SSID maximum allowed 32 bytes, only support combination of Chinese, lowercase "
              "letters, 0-9 numbers");
    r = CheckBridgeSecurity(f, 1);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.block.wpapsk_key_len, 0);

    // WEP: every key given must be valid, and the default one must be given.
    f.code = kBridgeSecurityWep;
    f.wepDefaultKey = 2;
    f.wepKeys[0] = {"0a1b2c3d4e", true};
    r = CheckBridgeSecurity(f, 1);
    EXPECT_EQ(r.messageKey, "Please enter the WEP key2!");
    EXPECT_TRUE(r.appCaption);
    f.wepKeys[1] = {"ab cd", false};
    EXPECT_NE(CheckBridgeSecurity(f, 1).messageKey.find("invalid characters"), std::string::npos);
    f.wepKeys[1] = {"abcde", false};
    r = CheckBridgeSecurity(f, 1);
    ASSERT_TRUE(r.ok()) << r.messageKey;
    EXPECT_EQ(r.block.wep_key_index, 2);
    EXPECT_EQ(r.block.wep_keys[0].type, 1);
    EXPECT_EQ(r.block.wep_keys[1].len, 5);
    EXPECT_EQ(r.block.wpapsk_key_len, 0);
}

TEST(BridgeSecurity, ChannelsFollowTheDevicesCountryAndBand) {
    // Country code 1 is the United States: 2.4 GHz channels 1 to 11 after "Auto".
    auto items = BridgeChannelItems(1, 0, 1, 0, 6);
    ASSERT_EQ(items.size(), 12u);
    EXPECT_EQ(items[0].value, 0);
    EXPECT_EQ(items.back().value, 11);
    // A code no country row has still offers the access point's channel.
    items = BridgeChannelItems(1, 1, 250, 0, 149);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[1].value, 149);
}

TEST(BridgeIp, OwnAddressPassesTheInUseCheckAnotherDevicesDoesNot) {
    const std::vector<std::string> used{"198.18.1.7", "198.18.1.8"};
    AddressForm f;
    f.ip = "198.18.1.7";
    f.mask = "255.255.0.0";
    f.gateway = "198.18.0.254";
    f.dns1 = "198.18.0.53";
    BridgeIpResult r = CheckBridgeIp(f, "198.18.1.7", used);
    ASSERT_TRUE(r.ok()) << r.messageKey;
    EXPECT_EQ(r.block.ip_mode, 1);
    EXPECT_EQ(IpToText(r.block.ip), "198.18.1.7");
    EXPECT_EQ(IpToText(r.block.ip_gateway), "198.18.0.254");
    EXPECT_EQ(IpToText(r.block.ip_dns2), "0.0.0.0");
    EXPECT_EQ(r.block.reserved, 0);

    f.ip = "198.18.1.8";
    EXPECT_EQ(CheckBridgeIp(f, "198.18.1.7", used).messageKey,
              "The ip address is already in use, please respecify!");
    f.ip = "198.18.1.9";
    EXPECT_TRUE(CheckBridgeIp(f, "198.18.1.7", used).ok());
    f.gateway = "10.0.0.1";
    EXPECT_EQ(CheckBridgeIp(f, "198.18.1.7", used).messageKey,
              "Ip address and gateway address is not in the same subnet!");

    // The step starts from the device's block; unset addresses show as empty fields.
    IpConfigBlock own{};
    IpFromText("198.18.1.7", own.ip);
    IpFromText("255.255.0.0", own.ip_mask);
    const AddressForm start = BridgeAddressFormFrom(own);
    EXPECT_EQ(start.ip, "198.18.1.7");
    EXPECT_EQ(start.gateway, "");
    EXPECT_TRUE(CheckBridgeIp(start, "198.18.1.7", used).ok());
}

TEST(BridgeBody, WirelessPartThenIpPartWithTheSsidAsUtf8) {
    BridgeWirelessBlock w{};
    w.ap_mac[0] = 0x02;
    w.ap_mac[5] = 0x2a;
    w.channel = 149;
    // A longer name left in the field must not survive behind the new one.
    std::memset(w.ssid, 'x', sizeof w.ssid);
    const std::string ssid = "\xE6\xA1\xA5\xE6\x8E\xA5-1";  // two CJK characters and "-1"
    std::memcpy(w.ssid, ssid.data(), ssid.size());
    w.ssid_len = static_cast<uint8_t>(ssid.size());
    w.secure_mode = kBridgeSecurityWpa2Psk;
    w.wpapsk_auth_type = 2;
    IpConfigBlock ip{};
    ip.ip_mode = 1;
    IpFromText("198.18.1.9", ip.ip);

    const BridgeConfigBody body = MakeBridgeBody(w, ip);
    const auto* b = reinterpret_cast<const uint8_t*>(&body);
    EXPECT_EQ(b[1], 0x02);
    EXPECT_EQ(b[6], 0x2a);
    EXPECT_EQ(b[7], 149);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(b + 8), 8), ssid);
    EXPECT_EQ(b[16], 0);  // the old bytes are gone
    EXPECT_EQ(b[40], 8);  // bytes, not the four characters
    EXPECT_EQ(b[42], kBridgeSecurityWpa2Psk);
    EXPECT_EQ(b[43], 2);
    EXPECT_EQ(b[304], 1);
    EXPECT_EQ(b[305], 198);
    EXPECT_EQ(b[308], 9);
    EXPECT_EQ(b[325], 0);

    // 11 three-byte characters do not fit 32 bytes: ten go, never a piece of the eleventh.
    std::string longName;
    for (int i = 0; i < 11; ++i) longName += "\xE6\xA1\xA5";
    std::memcpy(w.ssid, longName.data(), sizeof w.ssid);
    w.ssid_len = 33;
    const BridgeConfigBody cut = MakeBridgeBody(w, ip);
    EXPECT_EQ(cut.wireless.ssid_len, 30);
    EXPECT_EQ(cut.wireless.ssid[30], 0);
}

TEST(BridgeWizardFlow, BackFromTheLastStepTurnsSaveIntoNext) {
    BridgeWizardFlow flow;
    EXPECT_FALSE(flow.BackVisible());
    for (int i = 0; i < 3; ++i) flow.Advance();
    EXPECT_STREQ(flow.NextKey(), "Save");
    flow.Advance();  // Save does not walk past the last step
    EXPECT_EQ(flow.Step(), 3);
    flow.Back();
    EXPECT_STREQ(flow.NextKey(), "Next");
    flow.Back();
    flow.Back();
    EXPECT_FALSE(flow.BackVisible());
}

}  // namespace
