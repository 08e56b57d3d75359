#include "inventory_window_logic.h"

#include "codec.h"
#include "file_replacement.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace quellin::console {

InventoryWindowLogic::InventoryWindowLogic(std::vector<CBase> devices, int jobs,
                                           ProbeMaker makeProbe, RunEnded runEnded)
    : devices_(std::move(devices)),
      jobs_(jobs),
      makeProbe_(std::move(makeProbe)),
      runEnded_(std::move(runEnded)) {}

InventoryWindowLogic::~InventoryWindowLogic() {
    // The window is going (or the whole console): the dialogues under way
    // are cut short instead of being waited for.
    if (run_) {
        run_->Cancel();
        run_->Wait();
    }
}

void InventoryWindowLogic::Start(std::function<void()> arrived) {
    if (running_)
        return;
    if (run_)
        run_->Wait();  // its workers have ended already
    run_.reset();
    {
        std::lock_guard guard(lock_);
        arrived_.clear();
        found_.clear();
        ended_ = false;
    }
    rows_.clear();
    asked_.reset();
    stopped_ = false;
    running_ = true;
    notify_ = std::move(arrived);
    std::vector<CBase*> devices;
    for (CBase& device : devices_)
        devices.push_back(&device);
    run_ = std::make_unique<DeviceJobs>(std::move(devices), jobs_);
    run_->Start(
        [this, probe = makeProbe_()](std::size_t, CBase& device, std::stop_token stop) {
            InventoryRow row = probe(device, std::move(stop));
            Outcome outcome = OutcomeOf(row);
            Arrived(std::move(row));
            return outcome;
        },
        {}, [this] { Ended(); });
}

void InventoryWindowLogic::Stop() {
    if (!running_ || stopped_)
        return;
    stopped_ = true;
    run_->Stop();
}

void InventoryWindowLogic::Arrived(InventoryRow row) {
    {
        std::lock_guard guard(lock_);
        if (runEnded_)
            found_.push_back(row);
        arrived_.push_back(std::move(row));
    }
    if (notify_)
        notify_();
}

void InventoryWindowLogic::Ended() {
    if (runEnded_) {
        std::vector<InventoryRow> found;
        {
            std::lock_guard guard(lock_);
            found.swap(found_);
        }
        runEnded_(found);
    }
    {
        std::lock_guard guard(lock_);
        ended_ = true;
    }
    if (notify_)
        notify_();
}

bool InventoryWindowLogic::TakeArrived() {
    std::vector<InventoryRow> arrived;
    bool ended = false;
    {
        std::lock_guard guard(lock_);
        arrived.swap(arrived_);
        ended = ended_;
    }
    const bool changed = !arrived.empty() || (ended && running_);
    for (auto& row : arrived)
        rows_.push_back(std::move(row));
    if (ended && running_) {
        running_ = false;
        AddNotAsked();
    }
    if (!arrived.empty() || ended) {
        if (sorted_)
            SortRows(rows_, sortColumn_, ascending_);
        else
            std::stable_sort(
                rows_.begin(), rows_.end(),
                [](const InventoryRow& a, const InventoryRow& b) { return a.row < b.row; });
    }
    return changed;
}

void InventoryWindowLogic::AddNotAsked() {
    asked_ = rows_.size();
    for (const CBase& device : devices_) {
        const bool has = std::ranges::any_of(
            rows_, [&](const InventoryRow& row) { return row.row == device.row; });
        if (!has)
            rows_.push_back(NotAskedRow(device));
    }
}

std::string InventoryWindowLogic::ProgressText() const {
    const std::string count =
        " " + std::to_string(asked()) + "/" + std::to_string(devices_.size()) + cp932::Jp(" 台");
    if (running_)
        return cp932::Jp(stopped_ ? "停止中" : "取得中") + count;
    if (stopped_)
        return cp932::Jp("停止しました") + count;
    return cp932::Jp("完了") + count;
}

void InventoryWindowLogic::Sort(InventoryColumn column, bool ascending) {
    sortColumn_ = column;
    ascending_ = ascending;
    sorted_ = true;
    SortRows(rows_, column, ascending);
}

std::optional<std::string> InventoryWindowLogic::Export(const std::string& path,
                                                        CsvEncoding encoding) const {
    if (ReplaceFile(cp932::ToPath(path), InventoryCsv(rows_, encoding)))
        return std::nullopt;
    const int error = errno;
    return cp932::Jp("CSVファイルの書込みに失敗しました。") + "\r\n" + path + ": " +
           std::strerror(error);
}

std::optional<std::string> InventoryWindowLogic::DeviceAt(int displayRow) const {
    if (displayRow < 0 || static_cast<std::size_t>(displayRow) >= rows_.size())
        return std::nullopt;
    return rows_[static_cast<std::size_t>(displayRow)].name;
}

}  // namespace quellin::console
