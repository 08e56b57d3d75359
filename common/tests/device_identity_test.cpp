#include "device_identity.h"

#include <chrono>
#include <optional>
#include <string>

#include "socket_support.h"
#include "telnet_session.h"
#include "test_support.h"

namespace quellin {
namespace {

using namespace std::chrono_literals;

using testing::PeerConnection;
using testing::PrintTo;
using testing::RowName;
using testing::ScriptedPeer;

std::string Data(const char* name) {
    return testing::ReadFile(std::filesystem::path(QUELLIN_TEST_DATA) / name);
}

DeviceIdentity Identity(std::string model, int major, int minor, std::string startupConfig) {
    DeviceIdentity identity;
    identity.model = std::move(model);
    identity.major = major;
    identity.minor = minor;
    identity.startupConfig = std::move(startupConfig);
    return identity;
}

// --- Version texts ------------------------------------------------------------

struct VersionCase {
    const char* name;
    std::string text;
    int result;
    int major;
    int minor;
};

class VersionText : public ::testing::TestWithParam<VersionCase> {};

TEST_P(VersionText, TakesMajorAndTwoMinorDigits) {
    const VersionCase& row = GetParam();
    std::int32_t major = -7;
    std::int32_t minor = -7;
    EXPECT_EQ(ParseVersionText(row.text, major, minor), row.result);
    EXPECT_EQ(major, row.major);
    EXPECT_EQ(minor, row.minor);
}

INSTANTIATE_TEST_SUITE_P(Texts, VersionText,
                         ::testing::Values(VersionCase{"TwoDigitMinor", "V10.02", 0, 10, 2},
                                           VersionCase{"OneDigitMinor", "V9.5", -1, 9, -7},
                                           VersionCase{"ThreeDigitMinor", "V9.123", -1, 9, -7},
                                           VersionCase{"LetterInMinor", "V1.2a", 0, 1, 2},
                                           VersionCase{"NoDigitsInMajor", "V.10", 0, 0, 10},
                                           VersionCase{"NoDot", "V1002", -1, -7, -7},
                                           VersionCase{"NoV", "10.02", -1, -7, -7},
                                           VersionCase{"LowerCaseV", "v10.02", -1, -7, -7},
                                           VersionCase{"Empty", "", -1, -7, -7}),
                         RowName());

TEST(VersionTextTest, OnlyTheFirst31BytesCount) {
    std::int32_t major = 0;
    std::int32_t minor = 0;
    std::string fits = "V" + std::string(25, '0') + "12.02";
    ASSERT_EQ(fits.size(), 31u);
    EXPECT_EQ(ParseVersionText(fits + "x", major, minor), 0);
    EXPECT_EQ(major, 12);
    EXPECT_EQ(minor, 2);
    // One byte longer and the second minor digit falls outside.
    std::string tooLong = "V" + std::string(26, '0') + "12.02";
    EXPECT_EQ(ParseVersionText(tooLong, major, minor), -1);
}

TEST(VersionTextTest, FormatsWithTwoDigitsEach) {
    EXPECT_EQ(FormatVersion(10, 2), "V10.02");
    EXPECT_EQ(FormatVersion(9, 0), "V09.00");
    EXPECT_EQ(FormatVersion(130, 11), "V130.11");
}

// --- "show system information" ----------------------------------------------

const std::string kTarn90 =
    "show system information\r\n"
    "System : Tarn-90\r\n"
    "Firm Ver. : V10.02 \r\n"
    "Startup-config : Thu Jan 26 13:08:04 2006 config1\r\n"
    "Tarn# ";

struct SystemCase {
    const char* name;
    std::string text;
    int netprovResult;
    DeviceIdentity netprov;
    int consoleResult;
    DeviceIdentity console;
};

class SystemInformation : public ::testing::TestWithParam<SystemCase> {};

TEST_P(SystemInformation, FindsModelVersionAndStartupConfig) {
    const SystemCase& row = GetParam();
    DeviceIdentity identity = Identity("stale", 99, 99, "stale");
    identity.ptf = "stale";
    EXPECT_EQ(ParseSystemInformation(row.text, identity, SystemInformationRules::kNetprov),
              row.netprovResult);
    EXPECT_EQ(identity, row.netprov);
    identity = Identity("stale", 99, 99, "stale");
    EXPECT_EQ(ParseSystemInformation(row.text, identity, SystemInformationRules::kConsole),
              row.consoleResult);
    EXPECT_EQ(identity, row.console);
}

std::string Model(std::size_t length) {
    return "Tarn-" + std::string(length - 5, 'X');
}

std::string WithModel(const std::string& model) {
    return "System : " + model +
           "\r\nFirm Ver. : V10.02 \r\nStartup-config : Thu Jan 26 13:08:04 2006 config1\r\n";
}

std::string WithStartup(const std::string& value) {
    return "System : Tarn-90\r\nFirm Ver. : V10.02 \r\nStartup-config : " + value + "\r\n# ";
}

const std::string kStamp = "Thu Jan 26 13:08:04 2006 ";

INSTANTIATE_TEST_SUITE_P(
    Outputs, SystemInformation,
    ::testing::Values(
        SystemCase{"PlainRouter", kTarn90, 0, Identity("Tarn-90", 10, 2, "config1"), 0,
                   Identity("Tarn-90", 10, 2, "config1")},
        SystemCase{"DualBankRunningSecond",
                   "System : Tarn-700\r\nRunning-firmware : Firmware2\r\n"
                   "Firm Ver. : V10.02 \r\nFirmware1 Ver. : V10.02 \r\n"
                   "Firmware2 Ver. : V11.01 \r\n"
                   "Startup-config : Thu Jan 26 13:08:04 2006 config2\r\n",
                   0, Identity("Tarn-700", 11, 1, "config2"), 0,
                   Identity("Tarn-700", 10, 2, "config2")},
        SystemCase{"DualBankRunningFirst",
                   "System : Tarn-700\r\nRunning-firmware : Firmware1 (primary)\r\n"
                   "Firm Ver. : V10.02 \r\nFirmware1 Ver. : V12.03 \r\n"
                   "Firmware2 Ver. : V11.01 \r\n"
                   "Startup-config : Thu Jan 26 13:08:04 2006 config2\r\n",
                   0, Identity("Tarn-700", 12, 3, "config2"), 0,
                   Identity("Tarn-700", 10, 2, "config2")},
        SystemCase{"UnknownBankFallsBackToFirmVer",
                   "System : Tarn-700\r\nRunning-firmware : Firmware3\r\n"
                   "Firm Ver. : V10.02 \r\nFirmware1 Ver. : V12.03 \r\n"
                   "Startup-config : Thu Jan 26 13:08:04 2006 config2\r\n",
                   0, Identity("Tarn-700", 10, 2, "config2"), 0,
                   Identity("Tarn-700", 10, 2, "config2")},
        SystemCase{"NamedBankWithoutItsLine",
                   "System : Tarn-700\r\nRunning-firmware : Firmware2\r\n"
                   "Firm Ver. : V10.02 \r\n"
                   "Startup-config : Thu Jan 26 13:08:04 2006 config2\r\n",
                   -1, Identity("Tarn-700", 0, 0, "config2"), 0,
                   Identity("Tarn-700", 10, 2, "config2")},
        SystemCase{"ModelOf29Bytes", WithModel(Model(29)), 0, Identity(Model(29), 10, 2, "config1"),
                   0, Identity(Model(29), 10, 2, "config1")},
        SystemCase{"ModelOf30Bytes", WithModel(Model(30)), 0, Identity(Model(30), 10, 2, "config1"),
                   0, Identity(Model(30), 10, 2, "config1")},
        SystemCase{"ModelOf31Bytes", WithModel(Model(31)), -1, Identity("", 10, 2, "config1"), -1,
                   Identity("", 10, 2, "config1")},
        SystemCase{"OneMinorDigit",
                   "System : Tarn-90\r\nFirm Ver. : V10.2 \r\n"
                   "Startup-config : Thu Jan 26 13:08:04 2006 config1\r\n",
                   -1, Identity("Tarn-90", 10, 0, "config1"), -1,
                   Identity("Tarn-90", 10, 0, "config1")},
        SystemCase{"VersionWithoutSpaceAfterIt",
                   "System : Tarn-90\r\nStartup-config : Thu Jan 26 13:08:04 2006 config1\r\n"
                   "Firm Ver. : V10.02",
                   -1, Identity("Tarn-90", 0, 0, "config1"), -1,
                   Identity("Tarn-90", 0, 0, "config1")},
        SystemCase{"VersionLineMustFollowALineEnd",
                   "System : Tarn-90 Firm Ver. : V10.02 \r\n"
                   "Startup-config : Thu Jan 26 13:08:04 2006 config1\r\n",
                   -1, Identity("Tarn-90 Firm Ver. : V10.02 ", 0, 0, "config1"), -1,
                   Identity("Tarn-90 Firm Ver. : V10.02 ", 0, 0, "config1")},
        SystemCase{"ModelWithoutCarriageReturn",
                   "Firm Ver. : x\r\nFirm Ver. : V10.02 \r\n"
                   "Startup-config : Thu Jan 26 13:08:04 2006 config1\r\nSystem : Tarn-90",
                   -1, Identity("", 10, 2, "config1"), -1, Identity("", 10, 2, "config1")},
        SystemCase{"StartupOf32Bytes", WithStartup(kStamp + " config" + std::string(25, '9')), 0,
                   Identity("Tarn-90", 10, 2, " config" + std::string(25, '9')), 0,
                   Identity("Tarn-90", 10, 2, "config" + std::string(25, '9'))},
        SystemCase{"StartupOf33Bytes", WithStartup(kStamp + " config" + std::string(26, '9')), -1,
                   Identity("Tarn-90", 10, 2, ""), 0,
                   Identity("Tarn-90", 10, 2, "config" + std::string(26, '9'))},
        SystemCase{"ShortTimeStamp", WithStartup("Jan 26 2006 config1"), -1,
                   Identity("Tarn-90", 10, 2, ""), 0, Identity("Tarn-90", 10, 2, "config1")},
        SystemCase{"NoConfigWordInTheLine",
                   "System : Tarn-90\r\nFirm Ver. : V10.02 \r\n"
                   "Startup-config : Thu Jan 26 13:08:04 2006 default\r\nBackup : config2\r\n",
                   0, Identity("Tarn-90", 10, 2, "default"), -1, Identity("Tarn-90", 10, 2, "")},
        SystemCase{"FewerThan25BytesAfterTheLabel",
                   "System : Tarn-90\r\nFirm Ver. : V10.02 \r\nStartup-config : config1\r", -1,
                   Identity("Tarn-90", 10, 2, ""), -1, Identity("Tarn-90", 10, 2, "")},
        SystemCase{"ConfigWordRightAfterTheLabel",
                   "System : Tarn-90\r\nFirm Ver. : V10.02 \r\nStartup-config :  config1\r", -1,
                   Identity("Tarn-90", 10, 2, ""), 0, Identity("Tarn-90", 10, 2, "config1")},
        SystemCase{"FirstOccurrenceWins",
                   "System : Tarn-90\r\nSystem : Tarn-10\r\nFirm Ver. : V10.02 \r\n"
                   "Firm Ver. : V31.00 \r\nStartup-config : Thu Jan 26 13:08:04 2006 config1\r\n",
                   0, Identity("Tarn-90", 10, 2, "config1"), 0,
                   Identity("Tarn-90", 10, 2, "config1")},
        SystemCase{"LabelsAreCaseSensitive",
                   "system : Tarn-90\r\nFirm ver. : V10.02 \r\n"
                   "startup-config : Thu Jan 26 13:08:04 2006 config1\r\n",
                   -1, Identity("", 0, 0, ""), -1, Identity("", 0, 0, "")},
        SystemCase{
            "NothingAfterANulByte",
            std::string("System : Tarn-90\r\n\0", 19) +
                "Firm Ver. : V10.02 \r\nStartup-config : Thu Jan 26 13:08:04 2006 config1\r\n",
            -1, Identity("Tarn-90", 0, 0, ""), -1, Identity("Tarn-90", 0, 0, "")},
        SystemCase{"Empty", "", -1, Identity("", 0, 0, ""), -1, Identity("", 0, 0, "")}),
    RowName());

TEST(SystemInformationTest, ReadsRecordedRouterAnswers) {
    DeviceIdentity identity;
    EXPECT_EQ(ParseSystemInformation(Data("sysinfo_tarn90.txt"), identity,
                                     SystemInformationRules::kNetprov),
              0);
    EXPECT_EQ(identity, Identity("Tarn-90", 10, 2, "config1"));
    EXPECT_EQ(ParseSystemInformation(Data("sysinfo_dual_bank.txt"), identity,
                                     SystemInformationRules::kNetprov),
              0);
    EXPECT_EQ(identity, Identity("Tarn-700", 11, 1, "config2"));
    EXPECT_EQ(ParseSystemInformation(Data("sysinfo_dual_bank.txt"), identity,
                                     SystemInformationRules::kConsole),
              0);
    EXPECT_EQ(identity, Identity("Tarn-700", 10, 2, "config2"));
}

// --- "idinfo -c" ---------------------------------------------------------------

struct IdInfoCase {
    const char* name;
    std::string text;
    int result;
    DeviceIdentity identity;
};

class IdInfo : public ::testing::TestWithParam<IdInfoCase> {};

TEST_P(IdInfo, FindsTypeFirmAndCurrent) {
    DeviceIdentity identity = Identity("stale", 99, 99, "stale");
    EXPECT_EQ(ParseIdInfo(GetParam().text, identity), GetParam().result);
    EXPECT_EQ(identity, GetParam().identity);
}

std::string IdText(const std::string& type, const std::string& firm, const std::string& current) {
    return "idinfo -c\r\nTYPE    : " + type + "\r\nFIRM    : " + firm + "\r\nCURRENT : " + current +
           "\r\n# ";
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, IdInfo,
    ::testing::Values(
        IdInfoCase{"Recorded", Data("sysinfo_idinfo.txt"), 0,
                   Identity("Tarn-60", 29, 99, "config2")},
        IdInfoCase{"TypeOf30Bytes", IdText(Model(30), "V10.02", "config1"), 0,
                   Identity(Model(30), 10, 2, "config1")},
        IdInfoCase{"TypeOf31Bytes", IdText(Model(31), "V10.02", "config1"), -1,
                   Identity("", 10, 2, "config1")},
        IdInfoCase{"FirmWithTrailingText", IdText("Tarn-60", "V10.02 build", "config1"), -1,
                   Identity("Tarn-60", 10, 0, "config1")},
        IdInfoCase{"CurrentOf32Bytes", IdText("Tarn-60", "V10.02", std::string(32, 'c')), 0,
                   Identity("Tarn-60", 10, 2, std::string(32, 'c'))},
        IdInfoCase{"CurrentOf33Bytes", IdText("Tarn-60", "V10.02", std::string(33, 'c')), -1,
                   Identity("Tarn-60", 10, 2, "")},
        IdInfoCase{"LabelWithOneSpace", "TYPE : Tarn-60\r\nFIRM    : V10.02\r\nCURRENT : c\r\n", -1,
                   Identity("", 10, 2, "c")},
        IdInfoCase{"LastValueWithoutLineEnd",
                   "TYPE    : Tarn-60\r\nFIRM    : V10.02\r\nCURRENT : config1", -1,
                   Identity("Tarn-60", 10, 2, "")}),
    RowName());

// --- Legacy models -----------------------------------------------------------

struct GatedCase {
    const char* name;
    std::string model;
    int major;
    bool gated;
};

class GatedModel : public ::testing::TestWithParam<GatedCase> {};

TEST_P(GatedModel, OnlyTheFiveLegacyModelsBelowV30) {
    DeviceIdentity identity = Identity(GetParam().model, GetParam().major, 99, "config1");
    EXPECT_EQ(IsGatedModel(identity), GetParam().gated);
}

INSTANTIATE_TEST_SUITE_P(
    Models, GatedModel,
    ::testing::Values(
        GatedCase{"Tarn10", "Tarn-10", 29, true}, GatedCase{"Tarn20B", "Tarn-20B", 29, true},
        GatedCase{"Tarn60", "Tarn-60", 29, true}, GatedCase{"Tarn70", "Tarn-70", 29, true},
        GatedCase{"Tarn90", "Tarn-90", 29, true}, GatedCase{"Tarn10AtV30", "Tarn-10", 30, false},
        GatedCase{"Tarn20BAtV30", "Tarn-20B", 30, false},
        GatedCase{"Tarn60AtV30", "Tarn-60", 30, false},
        GatedCase{"Tarn70AtV30", "Tarn-70", 30, false},
        GatedCase{"Tarn90AtV30", "Tarn-90", 30, false},
        GatedCase{"Tarn90AtV31", "Tarn-90", 31, false}, GatedCase{"Tarn90AtV0", "Tarn-90", 0, true},
        GatedCase{"Tarn20WithoutB", "Tarn-20", 10, false},
        GatedCase{"Tarn20LowerB", "Tarn-20b", 10, false},
        GatedCase{"LowerCaseName", "tarn-90", 10, false}, GatedCase{"Prefix", "Tarn-9", 10, false},
        GatedCase{"Longer", "Tarn-900", 10, false},
        GatedCase{"TrailingSpace", "Tarn-90 ", 10, false},
        GatedCase{"TrailingNul", std::string("Tarn-90\0", 8), 10, false},
        GatedCase{"OtherModel", "Tarn-700", 10, false}, GatedCase{"Empty", "", 10, false}),
    RowName());

TEST(GatedModelTest, V29_99IsGatedAndV30_00IsNot) {
    EXPECT_TRUE(IsGatedModel(Identity("Tarn-90", 29, 99, "")));
    EXPECT_FALSE(IsGatedModel(Identity("Tarn-90", 30, 0, "")));
}

// --- Identification over telnet ------------------------------------------------

// A router that logs in anyone, answers one command with the given bytes
// (or stays silent without them) and hangs up at "exit".
testing::ScriptedPeer::Script Router(std::optional<std::string> answer) {
    return [answer = std::move(answer)](PeerConnection& connection) {
        const char* prompts[] = {"Login: ", "Password: ", "\r\nTarn# ", nullptr};
        for (const char* prompt : prompts) {
            if (prompt != nullptr) {
                connection.Send(prompt);
            } else if (answer) {
                connection.Send(*answer);
            }
            if (!connection.ReadUntil("\r\n").ends_with("\r\n"))
                break;
        }
    };
}

TelnetOptions OptionsFor(std::uint16_t port) {
    TelnetOptions options;
    options.port = port;
    options.receiveTimeout = 1000ms;
    options.initialSleep = 0ms;
    return options;
}

TEST(QuerySystemInformationTest, IdentifiesTheRouter) {
    ScriptedPeer router(Router(Data("sysinfo_dual_bank.txt")));
    DeviceIdentity identity;
    EXPECT_EQ(QuerySystemInformation("127.0.0.1", "admin", "pw", identity,
                                     SystemInformationRules::kNetprov, OptionsFor(router.port())),
              0);
    EXPECT_EQ(identity, Identity("Tarn-700", 11, 1, "config2"));
    EXPECT_EQ(router.Finish(), "admin\r\npw\r\nshow system information\r\nexit\r\n");
}

TEST(QuerySystemInformationTest, ConsoleRulesReadTheFirmVerLine) {
    ScriptedPeer router(Router(Data("sysinfo_dual_bank.txt")));
    DeviceIdentity identity;
    EXPECT_EQ(QuerySystemInformation("127.0.0.1", "", "", identity,
                                     SystemInformationRules::kConsole, OptionsFor(router.port())),
              0);
    EXPECT_EQ(identity, Identity("Tarn-700", 10, 2, "config2"));
}

TEST(QuerySystemInformationTest, IncompleteAnswerIsMinusTwo) {
    ScriptedPeer router(Router("show system information\r\nSystem : Tarn-90\r\nTarn# "));
    DeviceIdentity identity;
    EXPECT_EQ(QuerySystemInformation("127.0.0.1", "admin", "pw", identity,
                                     SystemInformationRules::kNetprov, OptionsFor(router.port())),
              -2);
    EXPECT_EQ(identity.model, "Tarn-90");
}

TEST(QuerySystemInformationTest, FailedDialogueIsMinusOne) {
    ScriptedPeer router(Router(std::nullopt));
    DeviceIdentity identity = Identity("stale", 1, 1, "stale");
    EXPECT_EQ(QuerySystemInformation("127.0.0.1", "admin", "pw", identity,
                                     SystemInformationRules::kNetprov, OptionsFor(router.port())),
              -1);
    EXPECT_EQ(identity, DeviceIdentity{});
}

TEST(QueryIdInfoTest, IdentifiesTheRouter) {
    ScriptedPeer router(Router(Data("sysinfo_idinfo.txt")));
    DeviceIdentity identity;
    EXPECT_EQ(QueryIdInfo("127.0.0.1", "admin", "pw", identity, OptionsFor(router.port())), 0);
    EXPECT_EQ(identity, Identity("Tarn-60", 29, 99, "config2"));
    EXPECT_EQ(router.Finish(), "admin\r\npw\r\nidinfo -c\r\nexit\r\n");
}

}  // namespace
}  // namespace quellin
