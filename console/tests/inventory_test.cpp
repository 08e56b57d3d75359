// The inventory table without routers: its texts, its sort orders, its CSV
// read back field by field, and the run that gathers rows from many devices
// at once and stops when told.
#include "inventory.h"
#include "codec.h"
#include "csv_fields.h"
#include "inventory_window_logic.h"
#include "test_support.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace quellin::console {
namespace {

using quellin::testing::ParseCsv;
using quellin::testing::Sjis;

InventoryRow Row(int number, std::string name, std::string address, InventoryVerdict verdict) {
    InventoryRow row;
    row.row = number;
    row.name = std::move(name);
    row.address = std::move(address);
    row.verdict = verdict;
    return row;
}

std::vector<std::string> Names(const std::vector<InventoryRow>& rows) {
    std::vector<std::string> names;
    for (const auto& row : rows)
        names.push_back(row.name);
    return names;
}

TEST(InventoryTableTest, SortsByAddressNumbersVerdictOrderAndText) {
    std::vector<InventoryRow> rows = {
        Row(1, "b", "127.0.0.10", InventoryVerdict::kUnreachable),
        Row(2, "a", "127.0.0.9", InventoryVerdict::kUpToDate),
        Row(3, "c", "", InventoryVerdict::kUpdateAvailable),
        Row(4, "d", "127.0.1.1", InventoryVerdict::kUpToDate),
    };
    SortRows(rows, InventoryColumn::kAddress, true);
    EXPECT_EQ(Names(rows), (std::vector<std::string>{"a", "b", "d", "c"}));
    SortRows(rows, InventoryColumn::kVerdict, true);
    EXPECT_EQ(Names(rows), (std::vector<std::string>{"a", "d", "c", "b"}));
    SortRows(rows, InventoryColumn::kVerdict, false);
    EXPECT_EQ(Names(rows), (std::vector<std::string>{"b", "c", "a", "d"}));
    SortRows(rows, InventoryColumn::kName, false);
    EXPECT_EQ(Names(rows), (std::vector<std::string>{"d", "c", "b", "a"}));
}

TEST(InventoryTableTest, CsvReadsBackInBothEncodings) {
    InventoryRow update =
        Row(1, Sjis("大阪,本店"), "127.0.0.2", InventoryVerdict::kUpdateAvailable);
    update.model = "Tarn-90";
    update.version = "V30.01";
    update.startupConfig = "config1";
    update.image = "tarn90-v30.10.bin";
    update.imageVersion = "V30.10";
    InventoryRow away = Row(2, "kobe", "127.0.0.3", InventoryVerdict::kUnreachable);
    away.reason = Sjis("ログインプロンプト待ち:受信タイムアウト:\"Login\"\r\n");
    const std::vector<InventoryRow> rows = {update, away};

    const auto cp932 = ParseCsv(InventoryCsv(rows, CsvEncoding::kCp932));
    ASSERT_EQ(cp932.size(), 3u);
    EXPECT_EQ(cp932[0],
              (std::vector<std::string>{Sjis("装置名"), Sjis("IPアドレス"), Sjis("機種"),
                                        Sjis("バージョン"), Sjis("起動構成"),
                                        Sjis("ソフトウェアファイル"), Sjis("判定"), Sjis("詳細")}));
    EXPECT_EQ(cp932[1], (std::vector<std::string>{Sjis("大阪,本店"), "127.0.0.2", "Tarn-90",
                                                  "V30.01", "config1", "tarn90-v30.10.bin (V30.10)",
                                                  Sjis("更新あり V30.10"), ""}));
    EXPECT_EQ(cp932[2], (std::vector<std::string>{"kobe", "127.0.0.3", "", "", "", "",
                                                  Sjis("接続不可"), away.reason}));

    EXPECT_EQ(InventoryCsv(rows, CsvEncoding::kUtf8),
              cp932::ToUtf8Lossy(InventoryCsv(rows, CsvEncoding::kCp932)));
    const std::string utf8 = InventoryCsv(rows, CsvEncoding::kUtf8WithBom);
    ASSERT_EQ(utf8.rfind("\xEF\xBB\xBF", 0), 0u);
    const auto lines = ParseCsv(utf8.substr(3));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1][0], "大阪,本店");
    EXPECT_EQ(lines[1][6], "更新あり V30.10");
    EXPECT_EQ(lines[0][7], "詳細");
}

// A stopped run keeps a row for every device, so that the table and its CSV
// still list the whole fleet.
TEST(InventoryWindowLogicTest, StopKeepsARowForEveryDeviceNotAsked) {
    std::vector<CBase> devices(6);
    for (int i = 0; i < 6; ++i) {
        devices[i].row = i + 1;
        devices[i].name = "r" + std::to_string(i + 1);
    }
    std::atomic<bool> asking{false};
    InventoryWindowLogic logic(devices, 1, [&] {
        return [&](const CBase& device, std::stop_token) {
            asking = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            return Row(device.row, device.name, "", InventoryVerdict::kUpToDate);
        };
    });
    logic.Start([] {});
    while (!asking)
        std::this_thread::yield();
    logic.Stop();
    for (int i = 0; i < 500 && logic.running(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        logic.TakeArrived();
    }
    ASSERT_FALSE(logic.running());
    EXPECT_EQ(Names(logic.rows()), (std::vector<std::string>{"r1", "r2", "r3", "r4", "r5", "r6"}));
    EXPECT_EQ(logic.asked(), 1u);
    EXPECT_EQ(logic.rows().back().verdict, InventoryVerdict::kNotAsked);
    EXPECT_EQ(logic.ProgressText(), Sjis("停止しました 1/6 台"));
    const auto lines = ParseCsv(InventoryCsv(logic.rows(), CsvEncoding::kUtf8));
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[6][6], "未取得");
}

}  // namespace
}  // namespace quellin::console
