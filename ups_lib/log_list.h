// The link form shared by both logs: a 32-bit record count, then the records.
#pragma once

#include <vector>

#include "archive.h"

namespace ups {

template <typename Record>
void SerializeRecordList(Archive& ar, std::vector<Record>& records) {
    if (ar.IsStoring()) {
        ar.WriteNumber(static_cast<std::uint32_t>(records.size()));
        for (auto& r : records) r.Serialize(ar);
        return;
    }
    records.clear();
    // Nothing is reserved from the count: a peer that announces four billion records and
    // sends none costs one failed read.
    const std::uint32_t count = ar.ReadNumber();
    for (std::uint32_t i = 0; i < count; ++i) {
        Record r;
        r.Serialize(ar);
        records.push_back(r);
    }
}

}  // namespace ups
