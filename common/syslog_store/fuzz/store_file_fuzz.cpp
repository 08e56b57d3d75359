// A store file that may be damaged: opened read-only and searched, it gives
// rows or an error, never a crash or an endless loop.
#include "store_reader.h"

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

using namespace quellin::syslogstore;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("quellin-store-fuzz-" + std::to_string(getpid()) + ".db");
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    if (auto reader = SyslogStoreReader::Open(path)) {
        Query query;
        query.timeLimit = std::chrono::milliseconds(2000);
        auto page = reader->Search(query, std::nullopt, 20);
        if (page && page->next)
            static_cast<void>(reader->Search(query, page->next, 20));
        query.sort = SortColumn::kText;
        query.text = "a";
        static_cast<void>(reader->Search(query, std::nullopt, 20));
        query.text.clear();
        query.levels = 0x0F;
        static_cast<void>(reader->Summarize(query));
        static_cast<void>(reader->CountBy(query, BucketUnit::kDay));
    }
    for (const char* suffix : {"", "-wal", "-shm"})
        std::filesystem::remove(path.string() + suffix);
    return 0;
}
