#include "firmware_policy.h"

#include "codec.h"
#include "image_folder.h"

#include <algorithm>
#include <vector>

namespace quellin {

const ModelAlias ModelAliasTable[5] = {
    {"BRKX30", "BRKX30TA"},        {"BRKX40", "BRKX40TA"},     {"BRKX50", "BRKX50TRA"},
    {"MOORLINKPATHB", "BRKX70RA"}, {"BRKS90TEA", "BRKS90CPA"},
};

const FirmwareRules kConsoleFirmwareRules{true, ModelAliasTable, std::string::npos,
                                          "AAA版からBBB版へソフトウェアを更新しますXXX。"};

// Netprov never knew the aliases and always compared names byte for byte;
// a table value longer than a model name fits in converts nothing.
const FirmwareRules kNetprovFirmwareRules{
    false, {}, 31, "ソフトウェアをAAA版からBBB版へ更新しますXXX。しばらくお待ちください ･･･"};

namespace {

std::string WithoutDashes(std::string text) {
    std::erase(text, '-');
    return text;
}

// A model name as the rules compare it.
std::string Compared(const std::string& model, const FirmwareRules& rules) {
    return rules.ignoreDashes ? WithoutDashes(model) : model;
}

bool Newer(std::int32_t major, std::int32_t minor, const DeviceIdentity& than) {
    return major > than.major || (major == than.major && minor > than.minor);
}

// The image model as the search compares it, an alias replaced by the
// device model it serves.
std::string SearchModel(const std::string& imageModel, const FirmwareRules& rules) {
    std::string model = Compared(imageModel, rules);
    for (const ModelAlias& alias : rules.aliases) {
        if (model == Compared(alias.imageModel, rules))
            return Compared(alias.deviceModel, rules);
    }
    return model;
}

// "FOLDER に MODEL のソフトウェアファイルがありません", with the first file
// that is no image.  Hidden files (a ".keep" that holds the folder in a
// repository, say) are nobody's image and go unmentioned.
std::string NoImageReason(const std::string& model, const std::string& folder,
                          const std::vector<FolderImage>& images) {
    std::string reason =
        folder + cp932::Jp(" に ") + model + cp932::Jp(" のソフトウェアファイルがありません");
    auto isBroken = [](const FolderImage& image) {
        return !image.identity && !image.path.filename().string().starts_with('.');
    };
    const auto first = std::ranges::find_if(images, isBroken);
    if (first != images.end()) {
        const auto broken = std::ranges::count_if(images, isBroken);
        reason += cp932::Jp(" (ソフトウェアファイルとして読めないファイル ") +
                  std::to_string(broken) + cp932::Jp(" 件: ") +
                  cp932::FromPath(first->path.filename()) + ")";
    }
    return reason;
}

// The model named as the router reports it; the table's name too when it is
// the one that made the model a legacy one.
std::string GatedReason(const DeviceIdentity& device, const std::string& converted,
                        const std::string& best, const FirmwareRules& rules) {
    std::string model = device.model;
    if (!converted.empty() && Compared(converted, rules) != Compared(device.model, rules))
        model += cp932::Jp(" (変換表では ") + converted + ")";
    return model +
           cp932::Jp(
               " は旧機種のため V30.00 未満のソフトウェアに更新しません (最新のソフトウェアは ") +
           best + ")";
}

// The verdict once the best image (if any) is known; `working` holds the
// converted model and the best version.
void Decide(FirmwareChoice& choice, const DeviceIdentity& device, const DeviceIdentity& working,
            const std::string& converted, const FirmwareRules& rules) {
    const std::string best = FormatVersion(working.major, working.minor);
    // The gate takes the working model without dashes too: it lost them for
    // the search and has them again only when the table wrote them back.
    const bool gated =
        rules.ignoreDashes ? IsGatedModelWithoutDashes(working) : IsGatedModel(working);
    if (gated) {
        choice.verdict = FirmwareChoice::Verdict::kGated;
        choice.reason = GatedReason(device, converted, best, rules);
    } else if (working.major == device.major && working.minor == device.minor) {
        choice.verdict = FirmwareChoice::Verdict::kSameVersion;
        choice.reason = cp932::Jp("既に最新のソフトウェア ") + best + " (" +
                        cp932::FromPath(choice.image.filename()) + cp932::Jp(") で稼働しています");
    } else {
        choice.verdict = FirmwareChoice::Verdict::kUpdate;
        choice.downgrade = Newer(device.major, device.minor, working);
    }
}

void ReplaceAll(std::string& text, std::string_view token, const std::string& by) {
    for (auto at = text.find(token); at != std::string::npos; at = text.find(token, at + by.size()))
        text.replace(at, token.size(), by);
}

}  // namespace

FirmwareChoice ChooseFirmware(const std::string& folder, const DeviceIdentity& device,
                              const CList<CFirmifConversionInfo>& table,
                              const FirmwareRules& rules) {
    FirmwareChoice choice;
    const Result<std::vector<FolderImage>> images =
        folder.empty()
            ? Error{ErrorCode::kNotFound, cp932::Jp("ソフトウェア格納フォルダ (FIRMDIR) が空です")}
            : ExamineImageFolder(cp932::ToPath(folder));
    if (!images) {
        choice.verdict = FirmwareChoice::Verdict::kFolderUnreadable;
        choice.reason = images.error().detail;
        choice.folderError = images.error().code;
        return choice;
    }
    // Among equal versions the first image by name stays; V00.00 is never
    // taken.
    DeviceIdentity working = device;
    working.model = Compared(device.model, rules);
    working.major = 0;
    working.minor = 0;
    for (const FolderImage& image : *images) {
        if (!image.identity || SearchModel(image.identity->model, rules) != working.model ||
            !Newer(image.identity->major, image.identity->minor, working))
            continue;
        choice.image = image.path;
        working.major = image.identity->major;
        working.minor = image.identity->minor;
    }
    choice.major = working.major;
    choice.minor = working.minor;
    // The table converts the name the search compared, after the search.
    std::string converted = LookUpConversion(table, working.model);
    if (converted.size() > rules.conversionLimit)
        converted.clear();
    if (!converted.empty())
        working.model = converted;

    if (choice.image.empty())
        choice.reason = NoImageReason(device.model, folder, *images);
    else
        Decide(choice, device, working, converted, rules);
    return choice;
}

std::string FirmwareUpdateMessage(const FirmwareRules& rules, const std::string& current,
                                  const std::string& next, bool downgrade) {
    std::string text = rules.updateText;
    ReplaceAll(text, "AAA", current);
    ReplaceAll(text, "BBB", next);
    ReplaceAll(text, "XXX", downgrade ? "(ダウングレード)" : "");
    return cp932::Jp(text);
}

}  // namespace quellin
