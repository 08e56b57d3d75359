#include "inventory.h"

#include "codec.h"
#include "maintenance.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdint>

namespace quellin::console {
namespace {

// Dotted addresses in numeric order; anything else after them, by bytes.
std::uint64_t AddressKey(const std::string& address) {
    in_addr parsed{};
    if (::inet_pton(AF_INET, address.c_str(), &parsed) != 1)
        return std::uint64_t{1} << 32;
    return ntohl(parsed.s_addr);
}

// Line ends, tabs and other control characters as single spaces, runs of
// them folded, none at either end.
std::string SingleLine(const std::string& text) {
    std::string line;
    bool gap = false;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            gap = !line.empty();
            continue;
        }
        if (gap)
            line += ' ';
        gap = false;
        line += c;
    }
    return line;
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

}  // namespace

std::string_view VerdictKey(InventoryVerdict verdict) {
    switch (verdict) {
        case InventoryVerdict::kUpToDate:
            return "up-to-date";
        case InventoryVerdict::kUpdateAvailable:
            return "update-available";
        case InventoryVerdict::kDowngrade:
            return "downgrade";
        case InventoryVerdict::kGated:
            return "gated";
        case InventoryVerdict::kNoImage:
            return "no-image";
        case InventoryVerdict::kLoginFailed:
            return "login-failed";
        case InventoryVerdict::kUnreachable:
            return "unreachable";
        case InventoryVerdict::kNotAsked:
            return "not-asked";
    }
    return "unreachable";
}

std::string VerdictText(InventoryVerdict verdict) {
    switch (verdict) {
        case InventoryVerdict::kUpToDate:
            return cp932::Jp("最新");
        case InventoryVerdict::kUpdateAvailable:
            return cp932::Jp("更新あり");
        case InventoryVerdict::kDowngrade:
            return cp932::Jp("ダウングレード");
        case InventoryVerdict::kGated:
            return cp932::Jp("更新対象外 (旧機種)");
        case InventoryVerdict::kNoImage:
            return cp932::Jp("ソフトウェアなし");
        case InventoryVerdict::kLoginFailed:
            return cp932::Jp("ログイン失敗");
        case InventoryVerdict::kUnreachable:
            return cp932::Jp("接続不可");
        case InventoryVerdict::kNotAsked:
            return cp932::Jp("未取得");
    }
    return {};
}

std::string ColumnHeading(InventoryColumn column) {
    switch (column) {
        case InventoryColumn::kName:
            return cp932::Jp("装置名");
        case InventoryColumn::kAddress:
            return cp932::Jp("IPアドレス");
        case InventoryColumn::kModel:
            return cp932::Jp("機種");
        case InventoryColumn::kVersion:
            return cp932::Jp("バージョン");
        case InventoryColumn::kStartup:
            return cp932::Jp("起動構成");
        case InventoryColumn::kImage:
            return cp932::Jp("ソフトウェアファイル");
        case InventoryColumn::kVerdict:
            return cp932::Jp("判定");
        case InventoryColumn::kReason:
            return cp932::Jp("詳細");
    }
    return {};
}

std::string CellText(const InventoryRow& row, InventoryColumn column) {
    switch (column) {
        case InventoryColumn::kName:
            return row.name;
        case InventoryColumn::kAddress:
            return row.address;
        case InventoryColumn::kModel:
            return row.model;
        case InventoryColumn::kVersion:
            return row.version;
        case InventoryColumn::kStartup:
            return row.startupConfig;
        case InventoryColumn::kImage:
            if (row.image.empty())
                return {};
            return row.image + " (" + row.imageVersion + ")";
        case InventoryColumn::kVerdict:
            if (row.verdict == InventoryVerdict::kUpdateAvailable ||
                row.verdict == InventoryVerdict::kDowngrade)
                return VerdictText(row.verdict) + " " + row.imageVersion;
            return VerdictText(row.verdict);
        case InventoryColumn::kReason:
            return row.reason;
    }
    return {};
}

void SortRows(std::vector<InventoryRow>& rows, InventoryColumn column, bool ascending) {
    std::sort(rows.begin(), rows.end(),
              [](const InventoryRow& a, const InventoryRow& b) { return a.row < b.row; });
    auto less = [column](const InventoryRow& a, const InventoryRow& b) {
        switch (column) {
            case InventoryColumn::kAddress: {
                const auto ka = AddressKey(a.address);
                const auto kb = AddressKey(b.address);
                return ka != kb ? ka < kb : a.address < b.address;
            }
            case InventoryColumn::kVerdict:
                return a.verdict < b.verdict;
            default:
                return CellText(a, column) < CellText(b, column);
        }
    };
    std::stable_sort(rows.begin(), rows.end(), [&](const InventoryRow& a, const InventoryRow& b) {
        return ascending ? less(a, b) : less(b, a);
    });
}

std::string InventoryCsv(const std::vector<InventoryRow>& rows, CsvEncoding encoding) {
    std::string text;
    auto line = [&](const std::vector<std::string>& fields) {
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (i > 0)
                text += ',';
            text += CsvField(fields[i]);
        }
        text += "\r\n";
    };
    std::vector<std::string> fields;
    for (int c = 0; c < kInventoryColumns; ++c)
        fields.push_back(ColumnHeading(static_cast<InventoryColumn>(c)));
    line(fields);
    for (const InventoryRow& row : rows) {
        fields.clear();
        for (int c = 0; c < kInventoryColumns; ++c)
            fields.push_back(CellText(row, static_cast<InventoryColumn>(c)));
        line(fields);
    }
    switch (encoding) {
        case CsvEncoding::kCp932:
            return text;
        case CsvEncoding::kUtf8:
            return cp932::ToUtf8Lossy(text);
        case CsvEncoding::kUtf8WithBom:
            return "\xEF\xBB\xBF" + cp932::ToUtf8Lossy(text);
    }
    return text;
}

InventoryRow NotAskedRow(const CBase& device) {
    InventoryRow row;
    row.row = device.row;
    row.name = device.name;
    row.address = device.address;
    row.verdict = InventoryVerdict::kNotAsked;
    return row;
}

InventoryRow ProbeDevice(const CBase& device, const RouterMaintenance& router,
                         std::stop_token stop) {
    InventoryRow row = NotAskedRow(device);
    row.verdict = InventoryVerdict::kUnreachable;
    if (device.address.empty()) {
        row.reason = cp932::Jp("IPアドレスが設定されていません。");
        return row;
    }
    DeviceIdentity identity;
    bool refused = false;
    if (Outcome identified = router.Identify(TargetFor(device), identity, stop, &refused);
        !identified.done()) {
        if (refused)
            row.verdict = InventoryVerdict::kLoginFailed;
        row.reason = SingleLine(identified.message + " " + identified.reason);
        return row;
    }
    // What the router says of itself goes into tables and files: one line
    // each, whatever it sent.
    row.model = SingleLine(identity.model);
    row.version = FormatVersion(identity.major, identity.minor);
    row.startupConfig = SingleLine(identity.startupConfig);

    const FirmwareChoice choice = router.ChooseFirmware(identity);
    if (!choice.image.empty()) {
        row.image = cp932::FromPath(choice.image.filename());
        row.imageVersion = FormatVersion(choice.major, choice.minor);
    }
    row.reason = SingleLine(choice.reason);
    switch (choice.verdict) {
        case FirmwareChoice::Verdict::kUpdate:
            row.verdict = choice.downgrade ? InventoryVerdict::kDowngrade
                                           : InventoryVerdict::kUpdateAvailable;
            break;
        case FirmwareChoice::Verdict::kSameVersion:
            row.verdict = InventoryVerdict::kUpToDate;
            row.reason.clear();
            break;
        case FirmwareChoice::Verdict::kGated:
            row.verdict = InventoryVerdict::kGated;
            break;
        case FirmwareChoice::Verdict::kFolderUnreadable:
            row.reason =
                SingleLine(cp932::Jp("ソフトウェア格納フォルダを読めません: ") + choice.reason);
            [[fallthrough]];
        case FirmwareChoice::Verdict::kNoImage:
            row.verdict = InventoryVerdict::kNoImage;
            break;
    }
    return row;
}

Outcome OutcomeOf(const InventoryRow& row) {
    const bool identified = row.verdict != InventoryVerdict::kUnreachable &&
                            row.verdict != InventoryVerdict::kLoginFailed;
    return identified ? Outcome{} : Outcome{OutcomeKind::kFailed, {}, row.reason};
}

}  // namespace quellin::console
