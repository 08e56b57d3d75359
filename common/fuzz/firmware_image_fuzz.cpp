// Feeds arbitrary files to the firmware image reader: whatever the bytes,
// it must answer "image" or "not an image" without reading outside the file.
// Looking through fewer directory entries (as many as the last byte says,
// up to three) may only turn an image into a too long directory.
#include "firmware_image.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// One in-memory file for all inputs, reached through its /proc path so that
// the reader opens it like any other file.
struct MemoryFile {
    MemoryFile() {
        fd = ::memfd_create("firmware-image", MFD_CLOEXEC);
        if (fd < 0)
            std::abort();
        path = "/proc/self/fd/" + std::to_string(fd);
    }
    ~MemoryFile() { ::close(fd); }
    void Fill(const std::uint8_t* data, std::size_t size) const {
        if (::ftruncate(fd, 0) != 0)
            std::abort();
        std::size_t done = 0;
        while (done < size) {
            ssize_t n = ::pwrite(fd, data + done, size - done, static_cast<off_t>(done));
            if (n <= 0)
                std::abort();
            done += static_cast<std::size_t>(n);
        }
    }
    int fd = -1;
    std::string path;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const MemoryFile file;
    file.Fill(data, size);
    const quellin::Result<quellin::DeviceIdentity> whole = quellin::ExamineFirmwareImage(file.path);
    if (whole && (whole->model.size() > 31 || whole->ptf.size() > 31 || whole->date.size() > 31))
        std::abort();
    if (size > 0) {
        const quellin::Result<quellin::DeviceIdentity> few = quellin::ExamineFirmwareImage(
            file.path, quellin::FirmwareImageLimits{data[size - 1] % 4u});
        const bool same = few ? whole && *few == *whole : !whole && few.error() == whole.error();
        if (!same && few.error().code != quellin::ErrorCode::kTooLong)
            std::abort();
    }

    // The identity block parser alone, on the first 256 bytes.
    quellin::FirmifBlock block{};
    std::memcpy(block.data(), data, std::min(size, block.size()));
    quellin::DeviceIdentity identity;
    quellin::ParseFirmifSection(identity, block);
    return 0;
}
