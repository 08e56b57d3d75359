#include "auto_config.h"

#include "expected_page.h"
#include "firmware_folder.h"
#include "firmware_image.h"
#include "md5.h"
#include "netprov.h"
#include "socket_support.h"
#include "tarn_image.h"
#include "tarnsim_client.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <thread>

namespace quellin::netprov {
namespace {

using quellin::testing::PrintTo;
using quellin::testing::ReadFile;
using quellin::testing::RowName;
using quellin::testing::Sjis;
using quellin::testing::WriteFile;
using testing::ExpectedPage;
namespace fs = std::filesystem;
namespace sim = quellin::tarn::testing;

// Telnet without the caller's initial wait; the callers here are never
// reached anyway.
ProvisioningOptions FastOptions() {
    ProvisioningOptions options;
    options.telnet.initialSleep = std::chrono::milliseconds(0);
    return options;
}

// The installation folder laid out in a temporary folder: base.db and the
// devices' configuration files.
class AutoConfigTest : public quellin::testing::TempDirTest {
protected:
    std::string base() const { return dir.path().string(); }
    std::string config() const { return (dir / "branch01.txt").string(); }

    void SetUp() override {
        WriteFile(config(), "ip address 192.168.0.1\r\n");
        WriteFile(dir / "base.db",
                  "# registry\r\n"
                  ",,,,,,0,0,0,0,0,0\r\n"
                  "branch01,10.0.0.1,pw,id01,secret," +
                      config() +
                      ",0,0,0,0,0,0\r\n"
                      "branch02,10.0.0.2,pw,id02,other,/missing/file.txt,0,0,0,"
                      "0,0,0\r\n"
                      "dup,10.0.0.3,pw,id01,second," +
                      config() + ",0,0,0,0,0,0\r\n");
    }

    // Runs one request; returns the page and sets ok.  An IPv6 caller
    // passes the checks but is never reached, so a request that passes them
    // ends at the identification without any traffic.
    std::string Check(const std::string& query, bool& ok,
                      const std::optional<std::string>& remote = "::1") {
        Environment environment{{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", query}};
        if (remote)
            environment["REMOTE_ADDR"] = *remote;
        std::ostringstream page;
        {
            std::istringstream input;
            CCgiRequest request(page);
            CAutoConfig run(request, environment, base(), FastOptions());
            request.ReadInput(input, environment);
            ok = run.Run();
            lastDevice = run.deviceName();
        }
        return page.str();
    }

    std::string lastDevice;
};

struct RefusalCase {
    const char* name;
    std::string query;
    std::optional<std::string> remote;
    const char* message;
};

class RefusalTest : public AutoConfigTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(RefusalTest, ShowsOneMessageAndWritesNoLog) {
    bool ok = true;
    EXPECT_EQ(Check(GetParam().query, ok, GetParam().remote), ExpectedPage({GetParam().message}));
    EXPECT_FALSE(ok);
    EXPECT_FALSE(std::filesystem::exists(dir / "log"));
}

const std::string kGoodPass = Md5Hex("secret");

INSTANTIATE_TEST_SUITE_P(
    Checks, RefusalTest,
    ::testing::Values(
        RefusalCase{"NoParameters", "", "127.0.0.1", "パラメタが不正です。"},
        RefusalCase{"EmptyAccessId", "accessid=&accesspass=" + kGoodPass, "127.0.0.1",
                    "パラメタが不正です。"},
        RefusalCase{"NoAccessPass", "accessid=id01", "127.0.0.1", "パラメタが不正です。"},
        RefusalCase{"NoRemoteAddress", "accessid=id01&accesspass=" + kGoodPass, std::nullopt,
                    "パラメタが不正です。"},
        RefusalCase{"EmptyRemoteAddress", "accessid=id01&accesspass=" + kGoodPass, "",
                    "パラメタが不正です。"},
        RefusalCase{"UnknownAccessId", "accessid=id99&accesspass=" + kGoodPass, "127.0.0.1",
                    "アクセスIDに誤りがあります。"},
        RefusalCase{"AccessIdCaseDiffers", "accessid=ID01&accesspass=" + kGoodPass, "127.0.0.1",
                    "アクセスIDに誤りがあります。"},
        RefusalCase{"PlainPassword", "accessid=id01&accesspass=secret", "127.0.0.1",
                    "パスワードに誤りがあります。"},
        RefusalCase{"UpperCaseDigest", "accessid=id01&accesspass=5EBE2294ECD0E0F08EAB7690D2A6EE69",
                    "127.0.0.1", "パスワードに誤りがあります。"},
        RefusalCase{"DigestOfSecondDuplicateRow", "accessid=id01&accesspass=" + Md5Hex("second"),
                    "127.0.0.1", "パスワードに誤りがあります。"},
        RefusalCase{"ConfigurationFileMissing", "accessid=id02&accesspass=" + Md5Hex("other"),
                    "127.0.0.1", "構成定義ファイルが見つかりません。"}),
    RowName());

TEST_F(AutoConfigTest, RegisteredDeviceWithItsDigestPassesTheChecks) {
    bool ok = true;
    EXPECT_EQ(Check("accessid=id01&accesspass=" + kGoodPass, ok),
              ExpectedPage({"装置情報の取得に失敗しました。"}));
    EXPECT_FALSE(ok);
    EXPECT_EQ(lastDevice, "branch01");
    const std::string log = ReadFile(dir / "log" / "branch01.log");
    EXPECT_NE(log.find(",branch01," + Sjis("設定を開始しました。") + "\r\n"), std::string::npos)
        << log;
    EXPECT_NE(log.find(",branch01," + Sjis("装置情報の取得に失敗しました。") + "\r\n"),
              std::string::npos)
        << log;
}

TEST_F(AutoConfigTest, MissingRegistryIsReportedAsUnreadable) {
    std::filesystem::remove(dir / "base.db");
    bool ok = true;
    EXPECT_EQ(Check("accessid=id01&accesspass=" + kGoodPass, ok),
              ExpectedPage({"装置登録ファイル(base.db)を読み込めません。"}));
    EXPECT_FALSE(ok);
}

TEST_F(AutoConfigTest, RegistryThatIsAFolderIsReportedAsUnreadable) {
    std::filesystem::remove(dir / "base.db");
    std::filesystem::create_directory(dir / "base.db");
    bool ok = true;
    EXPECT_EQ(Check("accessid=id01&accesspass=" + kGoodPass, ok),
              ExpectedPage({"装置登録ファイル(base.db)を読み込めません。"}));
}

TEST_F(AutoConfigTest, ConfigurationPathThatIsAFolderIsNotFound) {
    WriteFile(dir / "base.db", "b,,,id,pw," + base() + ",0,0,0,0,0,0\r\n");
    bool ok = true;
    EXPECT_EQ(Check("accessid=id&accesspass=" + Md5Hex("pw"), ok),
              ExpectedPage({"構成定義ファイルが見つかりません。"}));
}

TEST_F(AutoConfigTest, MessageGoesToLogThenPageAsFlagsSay) {
    Environment environment;
    std::ostringstream page;
    {
        CCgiRequest request(page);
        CAutoConfig run(request, environment, base(), FastOptions());
        WriteFile(dir / "base.db", "dev1,,,id,pw," + config() + ",0,0,0,0,0,0\r\n");
        environment = {{"REQUEST_METHOD", "GET"},
                       {"QUERY_STRING", "accessid=id&accesspass=" + Md5Hex("pw")},
                       {"REMOTE_ADDR", "::1"}};
        std::istringstream input;
        request.ReadInput(input, environment);
        ASSERT_FALSE(run.Run());
        run.Message(Sjis("ログのみ"), MSG_LOG);
        run.Message(Sjis("画面のみ"), MSG_PAGE);
        run.Message(Sjis("両方"), MSG_LOG | MSG_PAGE);
    }
    EXPECT_EQ(page.str(), ExpectedPage({"装置情報の取得に失敗しました。", "画面のみ", "両方"}));
    const std::string log = ReadFile(dir / "log" / "dev1.log");
    EXPECT_NE(log.find(",dev1," + Sjis("ログのみ") + "\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find(",dev1," + Sjis("両方") + "\r\n"), std::string::npos) << log;
    EXPECT_EQ(log.find(Sjis("画面のみ")), std::string::npos) << log;
}

// The console keeps registered devices beyond a lowered MAXROWS in base.db
// without showing them; Netprov reads every row and still provisions them.
TEST_F(AutoConfigTest, DeviceInARowBeyondMaxRowsIsFound) {
    WriteFile(dir / "NEXORA.INI", "[Config]\r\nMAXROWS=1\r\n");
    WriteFile(dir / "base.db", ",,,,,,0,0,0,0,0,0\r\nbranch09,10.0.0.9,pw,id09,nine," + config() +
                                   ",0,0,0,0,0,0\r\n");
    bool ok = true;
    EXPECT_EQ(Check("accessid=id09&accesspass=" + Md5Hex("nine"), ok),
              ExpectedPage({"装置情報の取得に失敗しました。"}));
    EXPECT_EQ(lastDevice, "branch09");
}

struct DigestCase {
    const char* name;
    std::string expected;
    std::string given;
    bool equal;
};

class DigestsEqualTest : public ::testing::TestWithParam<DigestCase> {};

TEST_P(DigestsEqualTest, ComparesBytes) {
    EXPECT_EQ(DigestsEqual(GetParam().expected, GetParam().given), GetParam().equal);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DigestsEqualTest,
    ::testing::Values(DigestCase{"Same", "abc", "abc", true}, DigestCase{"BothEmpty", "", "", true},
                      DigestCase{"LastByteDiffers", "abc", "abd", false},
                      DigestCase{"FirstByteDiffers", "abc", "xbc", false},
                      DigestCase{"GivenShorter", "abc", "ab", false},
                      DigestCase{"GivenLonger", "abc", "abcd", false},
                      DigestCase{"GivenEmpty", "abc", "", false},
                      DigestCase{"GivenWithNul", "ab", std::string("ab\0", 3), false}),
    RowName());

}  // namespace
}  // namespace quellin::netprov

namespace quellin::netprov {
namespace {

// ---------------------------------------------------------------------------
// Whole runs against a simulated router on loopback.

constexpr char kRouterAddress[] = "127.0.86.2";

// The installation folder with its cgi-bin, a registered device "branch01"
// (access ID id01, access password secret) and the software folder.
class ProvisioningTest : public quellin::testing::TempDirTest {
protected:
    void SetUp() override {
        install = dir / "Quellin_server";
        cgiBin = install / "httpd" / "cgi-bin";
        firmware = install / "firmware";
        fs::create_directories(cgiBin);
        fs::create_directories(firmware);
        fs::create_directories(install / "configs");
        config = install / "configs" / "branch01.txt";
        WriteFile(config, "hostname branch01\r\nip address 10.1.1.1\r\n");
        Settings("", firmware.string());
        Register("branch01");
        FakeRestartProgram();
    }

    void Settings(const std::string& loginId, const std::string& firmDir) {
        WriteFile(install / "NEXORA.INI",
                  "[Config]\r\nLOGINID=" + loginId + "\r\nFIRMDIR=" + firmDir + "\r\n");
    }

    void Register(const std::string& name) {
        deviceName = name;
        WriteFile(install / "base.db",
                  name + ",10.9.9.9,pw,id01,secret," + config.string() + ",0,0,0,0,0,0\r\n");
    }

    // Records its arguments, one a line, in args.txt of its working folder.
    void FakeRestartProgram() {
        const fs::path program = cgiBin / "Devrestart";
        WriteFile(program,
                  "#!/bin/sh\n"
                  "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > args.tmp && "
                  "mv args.tmp args.txt\n");
        fs::permissions(program, fs::perms::owner_all);
    }

    void Image(const std::string& file, const std::string& model, const std::string& version) {
        tarn::ImageOptions image;
        image.model = model;
        image.version = version;
        std::string error;
        ASSERT_TRUE(tarn::WriteImage(firmware / file, image, error)) << error;
    }

    // One simulated router at kRouterAddress; the run is pointed at its
    // ports.
    void StartRouter(const std::string& model, const std::string& version,
                     const std::vector<std::string>& extra = {}) {
        std::vector<std::string> arguments{"--state",          (dir / "sim").string(),
                                           "--name",           "r1",
                                           "--address",        kRouterAddress,
                                           "--telnet-port",    "0",
                                           "--ftp-port",       "0",
                                           "--model",          model,
                                           "--version",        version,
                                           "--reset-delay-ms", "200"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        router.emplace(arguments);
        ASSERT_TRUE(router->ready());
        options.telnet.port = static_cast<std::uint16_t>(router->router().telnetPort);
        options.ftpPort = router->router().ftpPort;
    }

    // A request from the device at `remote` with its access ID and digest.
    int Run(const std::string& remote = kRouterAddress) {
        Environment environment{{"REQUEST_METHOD", "GET"},
                                {"QUERY_STRING", "accessid=id01&accesspass=" + Md5Hex("secret")},
                                {"REMOTE_ADDR", remote}};
        std::istringstream input;
        std::ostringstream output;
        const int status = run(input, output, environment, install.string(), options);
        page = output.str();
        return status;
    }

    fs::path journal() const { return dir / "sim" / "journal.jsonl"; }
    fs::path stored(const std::string& slot) const { return dir / "sim" / "r1" / slot; }

    std::vector<std::string> Uploads() const {
        return sim::WaitForJournal(journal(), {"\"event\":\"upload\""}, 1,
                                   std::chrono::milliseconds(0));
    }

    // The messages of the device's operation log, without their time stamps.
    std::vector<std::string> LogMessages() const {
        std::vector<std::string> messages;
        std::istringstream log(ReadFile(install / "log" / (deviceName + ".log")));
        std::string line;
        const std::string prefix = "," + deviceName + ",";
        while (std::getline(log, line)) {
            if (line.empty() || line.back() != '\r') {
                ADD_FAILURE() << "line without CR LF: " << line;
                continue;
            }
            line.pop_back();
            auto at = line.find(prefix);
            EXPECT_EQ(at, 19u) << line;
            messages.push_back(line.substr(at + prefix.size()));
        }
        return messages;
    }

    // The arguments the restart program was given; empty when it did not run.
    std::vector<std::string> RestartArguments() {
        const fs::path file = cgiBin / "args.txt";
        for (int attempt = 0; attempt < 500 && !fs::exists(file); ++attempt)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::vector<std::string> arguments;
        std::istringstream text(fs::exists(file) ? ReadFile(file) : "");
        for (std::string line; std::getline(text, line);)
            arguments.push_back(line);
        return arguments;
    }

    static std::vector<std::string> Messages(std::initializer_list<std::string> messages) {
        std::vector<std::string> result;
        for (const auto& message : messages)
            result.push_back(quellin::testing::Sjis(message));
        return result;
    }

    fs::path install;
    fs::path cgiBin;
    fs::path firmware;
    fs::path config;
    std::string deviceName;
    std::optional<sim::TarnsimProcess> router;
    ProvisioningOptions options = [] {
        ProvisioningOptions o;
        o.telnet.receiveTimeout = std::chrono::milliseconds(300);
        o.telnet.initialSleep = std::chrono::milliseconds(0);
        o.ftp.connect = std::chrono::milliseconds(5000);
        o.ftp.stall = std::chrono::seconds(10);
        return o;
    }();
    std::string page;

    void SetRestartFolder() { options.restartFolder = cgiBin.string(); }
};

const char kUpdatingConfig[] = "構成定義を更新します。しばらくお待ちください ･･･";
const char kConfigUpdated[] = "構成定義を更新しました。";
const char kFinished[] = "設定が正常に終了しました。";
const char kNoNewSoftware[] = "新しいソフトウェアファイルはありません。";
const char kSoftwareUpdated[] = "ソフトウェアを更新しました。";
const char kFolderWrong[] = "ソフトウェア格納フォルダの設定に誤りがあります。";

class FirmwareDecisionTest : public ProvisioningTest {
protected:
    void SetUp() override {
        ProvisioningTest::SetUp();
        SetRestartFolder();
    }
};

struct DecisionCase {
    const char* name;
    std::string model;
    std::string deviceVersion;
    std::vector<std::pair<std::string, std::string>> images;  // model, version
    std::string conversion;                                   // firmifconvert.db
    std::optional<std::string> updateMessage;                 // UTF-8; none: no update
    std::string pushedVersion;
};

class FirmwareDecision : public FirmwareDecisionTest,
                         public ::testing::WithParamInterface<DecisionCase> {};

TEST_P(FirmwareDecision, PagesLogAndUploadsFollowTheDecision) {
    const DecisionCase& row = GetParam();
    int n = 0;
    for (const auto& [model, version] : row.images)
        Image("image" + std::to_string(n++) + ".bin", model, version);
    if (!row.conversion.empty())
        WriteFile(install / "firmifconvert.db", row.conversion);
    StartRouter(row.model, row.deviceVersion);

    ASSERT_EQ(Run(), 0) << page;
    if (row.updateMessage) {
        EXPECT_EQ(page, ExpectedPage({*row.updateMessage, kSoftwareUpdated, kUpdatingConfig,
                                      kConfigUpdated, kFinished}));
        EXPECT_EQ(LogMessages(),
                  Messages({"設定を開始しました。", *row.updateMessage, kSoftwareUpdated,
                            kUpdatingConfig, kConfigUpdated, kFinished}));
    } else {
        EXPECT_EQ(page, ExpectedPage({kNoNewSoftware, kUpdatingConfig, kConfigUpdated, kFinished}));
        EXPECT_EQ(LogMessages(), Messages({"設定を開始しました。", kNoNewSoftware, kUpdatingConfig,
                                           kConfigUpdated, kFinished}));
    }

    const auto uploads = Uploads();
    const std::size_t expected = row.updateMessage ? 2u : 1u;
    ASSERT_EQ(uploads.size(), expected);
    if (row.updateMessage) {
        EXPECT_NE(uploads[0].find("\"slot\":\"firmware\""), std::string::npos) << uploads[0];
        DeviceIdentity pushed;
        ASSERT_EQ(ReadFirmwareIdentity(stored("firmware"), pushed), 0);
        EXPECT_EQ(pushed.model, row.images.front().first);
        EXPECT_EQ(FormatVersion(pushed.major, pushed.minor), row.pushedVersion);
    }
    for (const auto& upload : uploads)
        EXPECT_NE(upload.find("\"mode\":\"active\""), std::string::npos) << upload;
    EXPECT_NE(uploads.back().find("\"slot\":\"config1\""), std::string::npos);
    EXPECT_EQ(RestartArguments(), (std::vector<std::string>{kRouterAddress, "branch01"}));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FirmwareDecision,
    ::testing::Values(
        DecisionCase{"SameVersionIsNoUpdate",
                     "Tarn-120",
                     "V06.02",
                     {{"Tarn-120", "V05.00"}, {"Tarn-120", "V06.02"}},
                     "",
                     std::nullopt,
                     ""},
        DecisionCase{"OlderImageIsADowngrade",
                     "Tarn-120",
                     "V07.00",
                     {{"Tarn-120", "V05.00"}, {"Tarn-120", "V06.02"}},
                     "",
                     "ソフトウェアをV07.00版からV06.02版へ更新します(ダウングレード)。"
                     "しばらくお待ちください ･･･",
                     "V06.02"},
        DecisionCase{"NewerImageIsAnUpgrade",
                     "Tarn-120",
                     "V05.00",
                     {{"Tarn-120", "V05.00"}, {"Tarn-120", "V06.02"}},
                     "",
                     "ソフトウェアをV05.00版からV06.02版へ更新します。しばらくお待ちください ･･･",
                     "V06.02"},
        DecisionCase{"GatedModelBelowThirtyIsNotUpdated",
                     "Tarn-60",
                     "V29.05",
                     {{"Tarn-60", "V29.99"}},
                     "",
                     std::nullopt,
                     ""},
        DecisionCase{"GatedModelAtThirtyIsUpdated",
                     "Tarn-60",
                     "V29.05",
                     {{"Tarn-60", "V30.00"}},
                     "",
                     "ソフトウェアをV29.05版からV30.00版へ更新します。しばらくお待ちください ･･･",
                     "V30.00"},
        DecisionCase{"NoImageForTheModel",
                     "Tarn-120",
                     "V06.02",
                     {{"Tarn-70", "V40.00"}},
                     "",
                     std::nullopt,
                     ""},
        DecisionCase{"UnconvertedNameIsNotGated",
                     "TX-10",
                     "V29.00",
                     {{"TX-10", "V29.50"}},
                     "",
                     "ソフトウェアをV29.00版からV29.50版へ更新します。しばらくお待ちください ･･･",
                     "V29.50"},
        // The device's own name finds the image; the converted one gates it.
        DecisionCase{"ConvertedNameGates",
                     "TX-10",
                     "V29.00",
                     {{"TX-10", "V29.50"}, {"Tarn-10", "V31.00"}},
                     "TX-10,Tarn-10\r\n",
                     std::nullopt,
                     ""},
        DecisionCase{"ConvertedNameAtThirtyIsUpdated",
                     "TX-10",
                     "V29.00",
                     {{"TX-10", "V30.00"}},
                     "TX-10,Tarn-10\r\n",
                     "ソフトウェアをV29.00版からV30.00版へ更新します。しばらくお待ちください ･･･",
                     "V30.00"},
        DecisionCase{"OverlongConversionValueConvertsNothing",
                     "TX-10",
                     "V29.00",
                     {{"TX-10", "V29.50"}},
                     "TX-10,Tarn-10" + std::string(19, 'x') + "\r\n",
                     "ソフトウェアをV29.00版からV29.50版へ更新します。しばらくお待ちください ･･･",
                     "V29.50"}),
    RowName());

// The five legacy models with the conversion table as shipped (empty): an
// image older than V30.00 is never pushed, one of V30.00 is.
class LegacyModelGate : public FirmwareDecisionTest,
                        public ::testing::WithParamInterface<const char*> {};

TEST_P(LegacyModelGate, ImagesBelowThirtyAreNeverPushed) {
    fs::copy_file(fs::path(QUELLIN_SOURCE_DIR) / "dist" / "firmifconvert.db",
                  install / "firmifconvert.db");
    Image("old.bin", GetParam(), "V29.99");
    StartRouter(GetParam(), "V20.00");
    ASSERT_EQ(Run(), 0) << page;
    EXPECT_EQ(page, ExpectedPage({kNoNewSoftware, kUpdatingConfig, kConfigUpdated, kFinished}));
    auto uploads = Uploads();
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_NE(uploads[0].find("\"slot\":\"config1\""), std::string::npos) << uploads[0];

    Image("new.bin", GetParam(), "V30.00");
    ASSERT_EQ(Run(), 0) << page;
    EXPECT_EQ(page, ExpectedPage({"ソフトウェアをV20.00版からV30.00版へ更新します。"
                                  "しばらくお待ちください ･･･",
                                  kSoftwareUpdated, kUpdatingConfig, kConfigUpdated, kFinished}));
    DeviceIdentity pushed;
    ASSERT_EQ(ReadFirmwareIdentity(stored("firmware"), pushed), 0);
    EXPECT_EQ(FormatVersion(pushed.major, pushed.minor), "V30.00");
}

INSTANTIATE_TEST_SUITE_P(Models, LegacyModelGate,
                         ::testing::Values("Tarn-10", "Tarn-20B", "Tarn-60", "Tarn-70", "Tarn-90"),
                         [](const ::testing::TestParamInfo<const char*>& row) {
                             std::string name = row.param;
                             std::erase(name, '-');
                             return name;
                         });

// Among images of equal version the first by name is pushed, whatever order
// the folder lists them in, as the console chooses.
TEST_F(FirmwareDecisionTest, EqualVersionsPushTheFirstImageByName) {
    const auto [first, second] =
        sim::EqualImagesListedOutOfNameOrder(firmware, "Tarn-90", "V30.02");
    StartRouter("Tarn-90", "V30.01");
    ASSERT_EQ(Run(), 0) << page;
    EXPECT_EQ(ReadFile(stored("firmware")), ReadFile(first));
}

TEST_F(FirmwareDecisionTest, EmptySoftwareFolderMeansNoNewSoftware) {
    StartRouter("Tarn-90", "V06.02");
    ASSERT_EQ(Run(), 0);
    EXPECT_EQ(page, ExpectedPage({kNoNewSoftware, kUpdatingConfig, kConfigUpdated, kFinished}));
}

struct FolderCase {
    const char* name;
    std::string firmDir;  // "-" stands for a folder that does not exist
};

class FolderSetting : public FirmwareDecisionTest,
                      public ::testing::WithParamInterface<FolderCase> {};

TEST_P(FolderSetting, StopsBeforeAnyUpload) {
    Image("image.bin", "Tarn-90", "V07.00");
    const std::string firmDir =
        GetParam().firmDir == "-" ? (install / "missing").string() : GetParam().firmDir;
    Settings("", firmDir);
    StartRouter("Tarn-90", "V06.02");
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(page, ExpectedPage({kFolderWrong}));
    // The reason follows the message in the log, never on the page.
    const std::string reason = firmDir.empty() ? "ソフトウェア格納フォルダ (FIRMDIR) が空です"
                                               : firmDir + ": No such file or directory";
    EXPECT_EQ(LogMessages(), Messages({"設定を開始しました。", kFolderWrong, reason}));
    EXPECT_TRUE(Uploads().empty());
}

INSTANTIATE_TEST_SUITE_P(Rows, FolderSetting,
                         ::testing::Values(FolderCase{"Empty", ""}, FolderCase{"Missing", "-"}),
                         RowName());

TEST_F(FirmwareDecisionTest, FolderSettingNamingAFileIsWrong) {
    WriteFile(install / "plain-file", "x");
    Settings("", (install / "plain-file").string());
    StartRouter("Tarn-90", "V06.02");
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(page, ExpectedPage({kFolderWrong}));
}

TEST_F(FirmwareDecisionTest, UnreachableDevicePushesNothing) {
    Image("image.bin", "Tarn-90", "V07.00");
    StartRouter("Tarn-90", "V06.02");
    options.telnet.port = quellin::testing::UnusedLoopbackPort("127.0.86.3");
    EXPECT_EQ(Run("127.0.86.3"), 1);
    EXPECT_EQ(page, ExpectedPage({"装置情報の取得に失敗しました。"}));
    EXPECT_EQ(LogMessages(), Messages({"設定を開始しました。", "装置情報の取得に失敗しました。",
                                       "ソケット作成中:ソケットエラー発生:接続失敗:GerLastError=" +
                                           std::to_string(ECONNREFUSED) + "(" +
                                           std::strerror(ECONNREFUSED) + ")"}));
    EXPECT_TRUE(Uploads().empty());
    EXPECT_EQ(ReadFile(config), "hostname branch01\r\nip address 10.1.1.1\r\n");
}

// A router that logs anyone in and answers every command with the same
// text.
quellin::testing::ScriptedPeer::Script AnswerEverything(std::string answer) {
    return [answer = std::move(answer)](quellin::testing::PeerConnection& connection) {
        const std::string steps[] = {"Login: ", "Password: ", "\r\n# ", answer + "\r\n# "};
        for (const auto& step : steps) {
            connection.Send(step);
            if (!connection.ReadUntil("\r\n", std::chrono::seconds(5)).ends_with("\r\n"))
                break;
        }
    };
}

TEST_F(FirmwareDecisionTest, UnreadableIdentificationPushesNothing) {
    Image("image.bin", "Tarn-90", "V07.00");
    StartRouter("Tarn-90", "V06.02");
    // The version has one minor digit only, which is no version.
    quellin::testing::ScriptedPeer scripted(
        AnswerEverything("System : Tarn-90\r\nFirm Ver. : V06.2 \r\n"
                         "Startup-config : Thu Jan 26 13:08:04 2006 config1"),
        "127.0.86.5");
    ASSERT_NE(scripted.port(), 0);
    options.telnet.port = scripted.port();
    EXPECT_EQ(Run("127.0.86.5"), 1);
    EXPECT_EQ(page, ExpectedPage({"装置情報の確認に失敗しました。"}));
    EXPECT_EQ(LogMessages(),
              Messages({"設定を開始しました。", "装置情報の確認に失敗しました。",
                        "show system information の応答に機種、版または起動構成がありません"}));
    EXPECT_TRUE(Uploads().empty());
}

TEST_F(FirmwareDecisionTest, RouterThatNeverFallsSilentEndsAtTheSettingsDeadline) {
    Image("image.bin", "Tarn-90", "V07.00");
    WriteFile(install / "NEXORA.INI",
              "[Config]\r\nFIRMDIR=" + firmware.string() + "\r\nTELNETDEADLINE=1\r\n");
    // A line every 100 ms, never the 300 ms of silence that end an answer.
    StartRouter("Tarn-90", "V06.02", {"--fault", "trickle:100"});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Run(), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_EQ(page, ExpectedPage({"装置情報の取得に失敗しました。"}));
    const auto messages = LogMessages();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[1], Sjis("装置情報の取得に失敗しました。"));
    // The reason on one line: the answer's line ends written out.
    EXPECT_EQ(messages[2].rfind(Sjis("コマンド実行:受信タイムアウト:show system information\\r\\n"
                                     "trickle 1\\r\\n"),
                                0),
              0u)
        << messages[2];
    EXPECT_TRUE(Uploads().empty());
}

TEST_F(FirmwareDecisionTest, LoginIdIsTheTelnetUser) {
    Settings("operator", firmware.string());
    StartRouter("Tarn-90", "V06.02", {"--user", "operator"});
    EXPECT_EQ(Run(), 0) << page;
    EXPECT_EQ(sim::WaitForJournal(journal(), {"\"event\":\"login\"", "\"service\":\"telnet\"",
                                              "\"user\":\"operator\"", "\"ok\":true"})
                  .size(),
              1u);
}

TEST_F(FirmwareDecisionTest, CrLfConfigurationArrivesAndStaysConverted) {
    StartRouter("Tarn-90", "V06.02");
    ASSERT_EQ(Run(), 0) << page;
    const std::string converted = "hostname branch01\nip address 10.1.1.1\neof\n";
    EXPECT_EQ(ReadFile(stored("config1")), converted);
    EXPECT_EQ(ReadFile(config), converted);
    EXPECT_FALSE(fs::exists(config.string() + ".tmp"));

    // A second run finds nothing more to change.
    fs::remove(cgiBin / "args.txt");
    ASSERT_EQ(Run(), 0) << page;
    EXPECT_EQ(ReadFile(config), converted);
    EXPECT_EQ(ReadFile(stored("config1")), converted);
}

TEST_F(FirmwareDecisionTest, ConversionFailureStopsBeforeTheUpload) {
    // The converted text cannot be written: a full disk, imitated for root
    // too by a file-size limit on a run in a child process.
    std::string original = "hostname branch01\r\n";
    for (int i = 0; i < 1000; ++i)
        original += "interface lan" + std::to_string(i) + "\r\n";
    WriteFile(config, original);
    StartRouter("Tarn-90", "V06.02");
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(pipe[0]);
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const int status = Run();
        ::_exit(WriteAll(pipe[1], page) ? status : 99);
    }
    ::close(pipe[1]);
    page.clear();
    ReadAll(pipe[0], page);
    ::close(pipe[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);

    const char failed[] = "構成定義ファイルの改行変換に失敗しました。";
    EXPECT_EQ(page, ExpectedPage({kNoNewSoftware, kUpdatingConfig, failed}));
    EXPECT_EQ(LogMessages(),
              Messages({"設定を開始しました。", kNoNewSoftware, kUpdatingConfig, failed,
                        "cannot write the conversion of " + config.string() + ": File too large"}));
    EXPECT_TRUE(Uploads().empty());
    EXPECT_EQ(ReadFile(config), original);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(config.parent_path()))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"branch01.txt"});
}

// Ten routers provisioned from one configuration file call at the same
// moment: every run converts and uploads it, and the file stays whole.
TEST_F(FirmwareDecisionTest, SimultaneousRunsForOneConfigurationAllSucceed) {
    std::string original = "hostname branch01\r\n";
    for (int i = 0; i < 5000; ++i)
        original += "interface lan" + std::to_string(i) + "\r\n";
    WriteFile(config, original);
    constexpr int kRuns = 10;
    const int port = 40000 + static_cast<int>(::getpid() % 10000) * 2;
    WriteFile(dir / "fleet.txt", "defaults telnet-port=" + std::to_string(port) +
                                     " ftp-port=" + std::to_string(port + 1) +
                                     "\nrouter name=r%d address=127.0.88.1 count=" +
                                     std::to_string(kRuns) + " model=Tarn-90 version=V06.02\n");
    router.emplace(std::vector<std::string>{"--state", (dir / "sim").string(), "--fleet",
                                            (dir / "fleet.txt").string()});
    ASSERT_TRUE(router->ready());
    options.telnet.port = static_cast<std::uint16_t>(port);
    options.ftpPort = port + 1;

    std::vector<pid_t> children;
    for (int i = 0; i < kRuns; ++i) {
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0)
            ::_exit(Run("127.0.88." + std::to_string(i + 1)));
        children.push_back(child);
    }
    int succeeded = 0;
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
            ++succeeded;
    }
    EXPECT_EQ(succeeded, kRuns) << ReadFile(install / "log" / "branch01.log");
    const std::string converted = ConvertNewlinesText(original);
    EXPECT_TRUE(ReadFile(config) == converted);
    for (int i = 0; i < kRuns; ++i) {
        EXPECT_TRUE(ReadFile(dir / "sim" / ("r" + std::to_string(i + 1)) / "config1") == converted)
            << i;
    }
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(config.parent_path()))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"branch01.txt"});
}

TEST_F(FirmwareDecisionTest, RefusedTransferIsReported) {
    Image("image.bin", "Tarn-120", "V07.00");
    StartRouter("Tarn-120", "V06.02", {"--fault", "refuse-ftp-login"});
    EXPECT_EQ(Run(), 1);
    const char failed[] = "ファイル転送中にエラーが発生しました。";
    EXPECT_EQ(page, ExpectedPage({"ソフトウェアをV06.02版からV07.00版へ更新します。"
                                  "しばらくお待ちください ･･･",
                                  failed}));
    const auto messages = LogMessages();
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[2], Sjis(failed));
    EXPECT_EQ(messages[3].rfind("FTP login refused: ", 0), 0u) << messages[3];
    // The run ended before the restart program would be started.
    EXPECT_FALSE(fs::exists(cgiBin / "args.txt"));
}

TEST_F(ProvisioningTest, MissingRestartProgramFailsTheRun) {
    fs::remove(cgiBin / "Devrestart");
    SetRestartFolder();
    StartRouter("Tarn-90", "V06.02");
    EXPECT_EQ(Run(), 1);
    const char failed[] = "再起動に失敗しました。";
    EXPECT_EQ(page, ExpectedPage({kNoNewSoftware, kUpdatingConfig, kConfigUpdated, failed}));
    EXPECT_EQ(LogMessages(), Messages({"設定を開始しました。", kNoNewSoftware, kUpdatingConfig,
                                       kConfigUpdated, failed,
                                       "cannot start " + (cgiBin / "Devrestart").string() +
                                           ": No such file or directory"}));
}

struct NameCase {
    const char* name;
    std::string deviceName;
    std::vector<std::string> arguments;  // after the address
};

class RestartArgumentsTest : public ProvisioningTest,
                             public ::testing::WithParamInterface<NameCase> {};

TEST_P(RestartArgumentsTest, NameIsSplitAtBlanksAndNothingElse) {
    Register(GetParam().deviceName);
    SetRestartFolder();
    StartRouter("Tarn-90", "V06.02");
    ASSERT_EQ(Run(), 0) << page;
    std::vector<std::string> expected{kRouterAddress};
    expected.insert(expected.end(), GetParam().arguments.begin(), GetParam().arguments.end());
    EXPECT_EQ(RestartArguments(), expected);
    EXPECT_FALSE(fs::exists(cgiBin / "pwned"));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RestartArgumentsTest,
    ::testing::Values(NameCase{"Plain", "branch01", {"branch01"}},
                      NameCase{"Blank", "branch 01", {"branch", "01"}},
                      NameCase{"BlankRun", "a  \tb", {"a", "b"}},
                      NameCase{"ShellCharacters", "x;touch${IFS}pwned", {"x;touch${IFS}pwned"}},
                      NameCase{
                          "Substitution", "$(touch\tpwned)`touch`", {"$(touch", "pwned)`touch`"}},
                      NameCase{"Quotes", "\"a b\"", {"\"a", "b\""}}),
    RowName());

}  // namespace
}  // namespace quellin::netprov
