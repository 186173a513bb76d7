// Every record's loader over arbitrary bytes. The first byte picks the record (low four bits)
// and whether the bytes come from memory or from a stream that cannot tell its size (bit 4).
// A record that loads whole must store to bytes that load back to the same bytes.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "ups_lib/close_info.h"
#include "ups_lib/config.h"
#include "ups_lib/data_log.h"
#include "ups_lib/log_list.h"
#include "ups_lib/log_records.h"
#include "ups_lib/msg_tab.h"
#include "ups_lib/schedule.h"
#include "ups_lib/ups_records.h"

namespace {

class Stream final : public ups::ByteSource {
  public:
    explicit Stream(std::span<const std::uint8_t> b) : bytes_(b) {}
    std::size_t Read(std::span<std::uint8_t> out) override {
        const std::size_t n = std::min({out.size(), bytes_.size() - pos_, std::size_t{13}});
        std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(pos_), n, out.begin());
        pos_ += n;
        return n;
    }

  private:
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

// The list forms of the logs as a record of their own.
template <typename Record>
struct RecordList final : ups::Serializable {
    const char* ClassName() const override { return "list"; }
    void Serialize(ups::Archive& ar) override { ups::SerializeRecordList(ar, records); }
    std::vector<Record> records;
};

std::unique_ptr<ups::Serializable> Make(unsigned kind) {
    switch (kind % 11) {
        case 0:
            return std::make_unique<ups::CConfig>();
        case 1:
            return std::make_unique<ups::CMsgTab>();
        case 2:
            return std::make_unique<ups::CSchedule>();
        case 3:
            return std::make_unique<ups::CScheduleDetail>();
        case 4:
            return std::make_unique<RecordList<ups::CEventLogRecord>>();
        case 5:
            return std::make_unique<RecordList<ups::CDataLogRecord>>();
        case 6:
            return std::make_unique<ups::CCloseInfo>();
        case 7:
            return std::make_unique<ups::CUPSStatus>();
        case 8:
            return std::make_unique<ups::CUPSBasicInfo>();
        case 9:
            return std::make_unique<ups::CUPSRatingInfo>();
        default:
            return std::make_unique<ups::CDataLog>("/nonexistent/fuzz.dat");
    }
}

bool Load(ups::Serializable& r, std::span<const std::uint8_t> bytes, bool stream) {
    std::unique_ptr<ups::ByteSource> src;
    if (stream)
        src = std::make_unique<Stream>(bytes);
    else
        src = std::make_unique<ups::MemorySource>(bytes);
    ups::Archive ar = ups::Archive::Loading(*src);
    try {
        r.Serialize(ar);
        return true;
    } catch (const ups::ArchiveError&) {
        return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const unsigned kind = data[0] & 0x0F;
    const bool stream = (data[0] & 0x10) != 0;
    const std::span<const std::uint8_t> bytes(data + 1, size - 1);

    auto record = Make(kind);
    if (!Load(*record, bytes, stream)) return 0;
    const auto once = ups::ToBytes(*record);
    auto again = Make(kind);
    if (!Load(*again, once, false)) std::abort();
    if (ups::ToBytes(*again) != once) std::abort();
    return 0;
}
