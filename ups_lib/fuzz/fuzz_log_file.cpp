// A log file of any content: reading takes only whole records, and one append leaves a file
// whose count matches its records, below its size limit.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "ups_lib/log_file.h"
#include "ups_lib/log_reader.h"

namespace {

std::filesystem::path Scratch() {
    static const std::filesystem::path p =
        std::filesystem::temp_directory_path() / ("ups_lib_fuzz_log." + std::to_string(::getpid()));
    return p;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto path = Scratch();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    bool consistent = true;
    const auto before = ups::ReadEventFile(path, &consistent);
    if (!before) std::abort();
    const std::uint8_t record[10] = {0x6d, 0, 0, 0, 2, 0, 1, 2, 3, 4};
    if (!ups::AppendLogRecord(path, ups::kEventFileLimits, record)) std::abort();
    const auto after = ups::ReadEventFile(path, &consistent);
    if (!after || !consistent) std::abort();
    if (std::filesystem::file_size(path) >= ups::kEventFileLimits.limit) std::abort();
    if (after->empty() || after->back().eventId != 0x6d) std::abort();
    std::filesystem::remove(path);
    return 0;
}
