// What the inventory window does, without widgets: it asks every registered
// device in the background, takes the rows over as they arrive, keeps them
// in the chosen sort order, tells the progress, stops on request, exports
// the table as CSV and names the device that the maintenance button opens.
#pragma once

#include "device_jobs.h"
#include "inventory.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace quellin::console {

class InventoryWindowLogic {
public:
    // Makes the probe of one run, on the window thread when the run starts:
    // the probe keeps what it reads (the settings) for itself.
    using ProbeMaker = std::function<InventoryProbe()>;
    // Takes every row a run found once it has ended (the fleet state and the
    // notices), on the worker that ends it: never on the window thread.
    using RunEnded = std::function<void(const std::vector<InventoryRow>&)>;
    // devices: the registered devices (those with a name) in row order.
    InventoryWindowLogic(std::vector<CBase> devices, int jobs, ProbeMaker makeProbe,
                         RunEnded runEnded = {});
    // Stops the run and waits for the devices under way.
    ~InventoryWindowLogic();
    InventoryWindowLogic(const InventoryWindowLogic&) = delete;
    InventoryWindowLogic& operator=(const InventoryWindowLogic&) = delete;

    // Empties the table and asks every device again.  `arrived` is called
    // from the workers whenever a row has arrived or the run has ended; the
    // window then calls TakeArrived on its own thread.  Does nothing while a
    // run is under way.
    void Start(std::function<void()> arrived);
    // Starts no further devices; those under way still report.
    void Stop();
    // Moves the rows that have arrived into the table, in the sort order;
    // true when the table or the run's state changed.
    bool TakeArrived();

    bool running() const { return running_; }
    bool stopped() const { return stopped_; }
    std::size_t total() const { return devices_.size(); }
    // The devices asked so far; after a stop the table also holds a row for
    // every device that was not asked.
    std::size_t asked() const { return asked_.value_or(rows_.size()); }
    // "取得中 12/300 台", "完了 300/300 台", "停止中 40/300 台" (while the
    // devices under way finish), "停止しました 40/300 台" (CP932).
    std::string ProgressText() const;

    // The table in its display order.
    const std::vector<InventoryRow>& rows() const { return rows_; }
    void Sort(InventoryColumn column, bool ascending);
    InventoryColumn sortColumn() const { return sortColumn_; }
    bool sortAscending() const { return ascending_; }

    // Writes the table as it stands to the file (CP932 path); nullopt when
    // written, else the message to show (CP932).
    std::optional<std::string> Export(const std::string& path, CsvEncoding encoding) const;

    // The name of the device in the display row; nullopt for a row that is
    // not there.
    std::optional<std::string> DeviceAt(int displayRow) const;

private:
    void Arrived(InventoryRow row);
    void Ended();
    void AddNotAsked();

    std::vector<CBase> devices_;
    int jobs_;
    ProbeMaker makeProbe_;
    std::unique_ptr<DeviceJobs> run_;
    std::function<void()> notify_;

    RunEnded runEnded_;

    std::mutex lock_;  // guards the three below
    std::vector<InventoryRow> arrived_;
    std::vector<InventoryRow> found_;  // the run's rows, for runEnded_
    bool ended_ = false;

    std::vector<InventoryRow> rows_;
    std::optional<std::size_t> asked_;  // once the rows not asked were added
    bool running_ = false;
    bool stopped_ = false;
    InventoryColumn sortColumn_ = InventoryColumn::kName;
    bool ascending_ = true;
    bool sorted_ = false;  // false: row order
};

}  // namespace quellin::console
