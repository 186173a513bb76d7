// How fast records go to and from their archive bytes: the status record (sent to every client
// on every change) and a data log at its size limit (sent whole when a panel asks for it).
#include <benchmark/benchmark.h>

#include "ups_lib/data_log.h"
#include "ups_lib/log_file.h"
#include "ups_lib/serializable.h"
#include "ups_lib/ups_records.h"

namespace {

ups::CUPSStatus MakeStatus() {
    ups::CUPSStatus s;
    ups::UPSStatusValues v;
    v.rawLine = "(226.0 195.0 226.0 014 49.0 27.5 30.0 00001001\r";
    v.inputVoltage = 2260;
    v.inputFaultVoltage = 1950;
    v.outputVoltage = 2260;
    v.load = 140;
    v.inputFrequency = 490;
    v.batteryVoltage = 2750;
    v.temperature = 300;
    v.batteryCapacity = 100;
    v.status = 0x09;
    s.Set(v);
    return s;
}

// The most samples a data file holds below its 40 960-byte limit.
ups::CDataLog& FullDataLog() {
    static ups::CDataLog log("/nonexistent/bench.dat");
    static bool filled = false;
    if (!filled) {
        std::vector<ups::CDataLogRecord> records(ups::kDataFileLimits.MaxRecords());
        for (std::size_t i = 0; i < records.size(); ++i) {
            records[i].inputVoltage = 2200 + static_cast<int>(i % 50);
            records[i].time = 1700000000 + static_cast<std::uint32_t>(i) * 30;
        }
        log.SetRecords(std::move(records));
        filled = true;
    }
    return log;
}

void BM_StatusEncode(benchmark::State& state) {
    auto s = MakeStatus();
    for (auto _ : state) benchmark::DoNotOptimize(ups::ToBytes(s));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StatusEncode);

void BM_StatusDecode(benchmark::State& state) {
    auto s = MakeStatus();
    const auto bytes = ups::ToBytes(s);
    ups::CUPSStatus back;
    for (auto _ : state) benchmark::DoNotOptimize(ups::FromBytes(back, bytes));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StatusDecode);

void BM_FullDataLogEncode(benchmark::State& state) {
    auto& log = FullDataLog();
    std::size_t size = 0;
    for (auto _ : state) {
        const auto bytes = ups::ToBytes(log);
        size = bytes.size();
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetItemsProcessed(state.iterations() *
                            static_cast<std::int64_t>(ups::kDataFileLimits.MaxRecords()));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
}
BENCHMARK(BM_FullDataLogEncode);

void BM_FullDataLogDecode(benchmark::State& state) {
    const auto bytes = ups::ToBytes(FullDataLog());
    ups::CDataLog back("/nonexistent/bench.dat");
    for (auto _ : state) benchmark::DoNotOptimize(ups::FromBytes(back, bytes));
    state.SetItemsProcessed(state.iterations() *
                            static_cast<std::int64_t>(ups::kDataFileLimits.MaxRecords()));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_FullDataLogDecode);

}  // namespace
