// The device registry base.db: a fixed number of rows (MAXROWS), one
// registered router per row, twelve comma-separated fields, CP932 text.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace quellin {

template <typename T>
using CList = std::vector<T>;

// One registered device; one row of base.db.  Texts are CP932.
struct CBase {
    std::int32_t row = 0;  // 1-based row in the file; not stored
    std::string name;      // empty = free slot
    std::string address;
    std::string password;
    std::string accessId;
    std::string accessPassword;
    std::string configFile;
    std::int64_t lastConfigTransfer = 0;
    std::int64_t lastFirmwareUpdate = 0;
    std::int64_t lastLogCollection = 0;
    std::int64_t nextLogCollection = 0;
    std::int32_t logInterval = 0;
    std::int32_t logRepeatCount = 0;

    bool operator==(const CBase&) const = default;
};

inline constexpr char kEmptyDeviceRow[] = ",,,,,,0,0,0,0,0,0";

// Removes and returns the text before the first comma (the whole line when
// there is none); the comma goes with it.
std::string SplitNextField(std::string& line);

// Fills the twelve fields of device from one row; device.row is untouched.
void ParseDeviceRow(std::string& line, CBase& device);

// The row as written to base.db, without its line end.
std::string FormatDeviceRow(const CBase& device);

// Appends empty rows until the file holds at least `rows` lines (comments
// count).  A longer file is left untouched.  False when it cannot be written.
// A new file is readable by its owner and group only (0660), like every
// save below.
bool EnsureRowCount(const std::filesystem::path& path, int rows);

// Appends up to `rows` devices (comment lines skipped) to the list, numbering
// them from 1.  False when the file cannot be opened.  With `beyond`, the
// rows after those that hold a device (a name) are appended to it as they
// stand in the file, without their line ends, so that a smaller row count
// never loses a registered device.
bool LoadDevices(const std::filesystem::path& path, CList<CBase>& list, int rows,
                 std::vector<std::string>* beyond = nullptr);

// Writes exactly `rows` rows from the list (empty rows where the list is
// shorter), then the rows of `beyond` unchanged, through a temporary file and
// a rename, so a failed save never leaves a half-written registry.  The file
// is left with mode 0660 (it holds the passwords) and, saved by root, with
// the owner and group it had.  False when nothing was replaced.
bool SaveDevices(const std::filesystem::path& path, const CList<CBase>& list, int rows,
                 const std::vector<std::string>& beyond = {});

// True when no other row (every line numbered from 1, comments too) holds the
// access ID; an empty access ID is always unique.
bool IsAccessIdUnique(const std::filesystem::path& path, const std::string& accessId, int ownRow);

// The first row holding the access ID.  An empty access ID finds nothing.
bool FindDeviceByAccessId(const std::filesystem::path& path, const std::string& accessId,
                          CBase& device);

// A decimal-to-int32 conversion in the manner of atoi: optional blanks and
// sign, then leading digits; empty or non-numeric text gives 0; the value
// wraps to 32 bits.
std::int32_t ParseInt32(const std::string& text);

}  // namespace quellin
