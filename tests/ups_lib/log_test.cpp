// The event and data files: their exact bytes, appends, clearing, the size limits and the
// recovery from an append that was cut short.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "test_support.h"
#include "ups_lib/data_log.h"
#include "ups_lib/event_log.h"
#include "ups_lib/event_texts.h"
#include "ups_lib/log_reader.h"
#include "ups_lib/reg_serial.h"

namespace ups {
namespace {

namespace fs = std::filesystem;
using test::ReadData;
using test::ReadFile;
using test::TempDir;

constexpr std::uint32_t kT0 = 1700000000;

class RecordingSystemLog final : public platform::SystemLog {
  public:
    struct Entry {
        std::string source;
        std::uint16_t type;
        std::uint32_t id;
        std::string text;
    };
    void Report(std::string_view source, std::uint16_t type, std::uint32_t id,
                std::string_view text) override {
        entries.push_back({std::string(source), type, id, std::string(text)});
    }
    void Alert(std::string_view, std::string_view text) override { alerts.emplace_back(text); }
    std::vector<Entry> entries;
    std::vector<std::string> alerts;
};

class EventLogTest : public ::testing::Test {
  protected:
    CEventLog::Setup LogSetup() {
        return {dir_ / "Torvane.evt", "/opt/torvane/Torvane.exe", registry_.get(), &syslog_};
    }
    TempDir dir_;
    std::unique_ptr<platform::Registry> registry_ = platform::MakeFileRegistry(dir_ / "registry");
    RecordingSystemLog syslog_;
};

CDataLogRecord Sample(int i) {
    CDataLogRecord r;
    r.inputVoltage = 2200 + i;
    r.outputVoltage = 2210 + i;
    r.load = 350 + i;
    r.batteryCapacity = 100 - i;
    r.temperature = 251 + i;
    r.inputFrequency = 600 - i;
    r.time = kT0 + 30 * static_cast<std::uint32_t>(i);
    return r;
}

TEST_F(EventLogTest, ConstructionRegistersTheEventSource) {
    CEventLog log("Torvane", LogSetup());
    EXPECT_TRUE(log.Registered());
    const std::string key = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Torvane";
    const auto file = registry_->ReadValue(key, "EventMessageFile");
    ASSERT_EQ(file.status, platform::ReadStatus::Found);
    EXPECT_EQ(std::string(file.bytes.begin(), file.bytes.end()),
              std::string("/opt/torvane/Torvane.exe") + '\0');
    EXPECT_EQ(registry_->ReadValue(key, "TypesSupported").bytes,
              (std::vector<std::uint8_t>{7, 0, 0, 0}));
    EXPECT_TRUE(syslog_.alerts.empty());
}

TEST_F(EventLogTest, UnwritableRegistryShowsTheKeyAndTheMessage) {
    test::WriteFile(dir_ / "notadir", {0});
    auto broken = platform::MakeFileRegistry(dir_ / "notadir");
    CEventLog log("Torvane", {dir_ / "Torvane.evt", "x", broken.get(), &syslog_});
    EXPECT_FALSE(log.Registered());
    ASSERT_EQ(syslog_.alerts.size(), 1u);
    EXPECT_EQ(syslog_.alerts[0],
              "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Torvane"
              "\nCan not create register key");
}

TEST_F(EventLogTest, FirstEventMakesTheFourteenByteFile) {
    CEventLog log("Torvane", LogSetup());
    ASSERT_TRUE(log.AddEvent({kEvAcFailure, CEventLogRecord::kWarning, kT0}));
    EXPECT_EQ(ReadFile(dir_ / "Torvane.evt"), ReadData("first_event.evt"));
    ASSERT_EQ(syslog_.entries.size(), 1u);
    EXPECT_EQ(syslog_.entries[0].source, "Torvane");
    EXPECT_EQ(syslog_.entries[0].type, 2);
    EXPECT_EQ(syslog_.entries[0].id, 0x6Du);
    EXPECT_EQ(syslog_.entries[0].text, "AC Failure");
}

TEST_F(EventLogTest, ReadAllAndLinkFormCarryTheRecordsInOrder) {
    CEventLog log("Torvane", LogSetup());
    log.AddEvent({kEvAcFailure, CEventLogRecord::kWarning, kT0});
    log.AddEvent({kEvAcRestored, CEventLogRecord::kInformation, kT0 + 60});
    log.AddEvent({kEvSystemShutdown, CEventLogRecord::kInformation, kT0 + 120});
    EXPECT_EQ(ReadFile(dir_ / "Torvane.evt"), ReadData("three_events.evt"));
    ASSERT_TRUE(log.ReadAll());
    ASSERT_EQ(log.Records().size(), 3u);
    EXPECT_EQ(log.Records()[1], CEventLogRecord(kEvAcRestored, 4, kT0 + 60));
    // The link form is the file form.
    EXPECT_EQ(ToBytes(log), ReadData("three_events.evt"));
}

TEST_F(EventLogTest, ClearThenAppendStartsAnew) {
    CEventLog log("Torvane", LogSetup());
    log.AddEvent({kEvAcFailure, 2, kT0});
    log.AddEvent({kEvAcRestored, 4, kT0 + 1});
    ASSERT_TRUE(log.ReadAll());
    log.Clear();
    EXPECT_FALSE(fs::exists(dir_ / "Torvane.evt"));
    EXPECT_TRUE(log.Records().empty());
    EXPECT_FALSE(log.ReadAll());  // nothing to read back: an empty list
    log.AddEvent({kEvAcFailure, 2, kT0});
    EXPECT_EQ(ReadFile(dir_ / "Torvane.evt"), ReadData("first_event.evt"));
}

TEST(DataLog, ThreeSamplesMakeTheEightyEightByteFile) {
    TempDir dir;
    CDataLog log(dir / "Torvane.dat");
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(log.AddSample(Sample(i)));
    EXPECT_EQ(ReadFile(dir / "Torvane.dat"), ReadData("three_samples.dat"));
    ASSERT_TRUE(log.ReadAll());
    ASSERT_EQ(log.Records().size(), 3u);
    EXPECT_EQ(log.Records()[2], Sample(2));
    EXPECT_EQ(ToBytes(log), ReadData("three_samples.dat"));
    log.Clear();
    ASSERT_TRUE(log.AddSample(Sample(7)));
    EXPECT_EQ(ReadFile(dir / "Torvane.dat").size(), 4 + 28u);
    EXPECT_EQ(ReadFile(dir / "Torvane.dat")[0], 1);
}

TEST(DataLog, FileNameComesFromTheProgramName) {
    EXPECT_EQ(DataFileFor("/opt/torvane/Torvane.exe"), fs::path("/opt/torvane/Torvane.dat"));
    EXPECT_EQ(DataFileFor("C:\\UPS\\TORVANE.EXE").string(), "C:\\UPS\\TORVANE.dat");
}

// Fills a file to its last allowed record, then appends once more.
template <typename Log, typename Make>
void ExpectReductionKeepsNewest(const fs::path& file, const LogFileLimits& limits, Log& log,
                                Make make) {
    const auto max = limits.MaxRecords();
    for (std::uint64_t i = 0; i < max; ++i) ASSERT_TRUE(log(make(i)));
    EXPECT_EQ(fs::file_size(file), 4 + max * limits.recordBytes);
    EXPECT_LT(fs::file_size(file), limits.limit);
    ASSERT_TRUE(log(make(max)));  // this one needs room: the oldest records go
    const auto size = fs::file_size(file);
    EXPECT_LT(size, limits.limit);
    EXPECT_EQ(size, 4 + (limits.KeepOnReduce() + 1) * limits.recordBytes);
}

TEST(LogLimits, FilesStayBelowTheirLimits) {
    EXPECT_EQ(kEventFileLimits.MaxRecords(), 1499u);  // 14 994 bytes
    EXPECT_EQ(kDataFileLimits.MaxRecords(), 1462u);   // 40 940 bytes
}

TEST(LogLimits, DataReductionDropsTheOldestAndKeepsCountAndRecordsInStep) {
    TempDir dir;
    CDataLog log(dir / "Torvane.dat");
    auto add = [&](const CDataLogRecord& r) { return log.AddSample(r); };
    ExpectReductionKeepsNewest(dir / "Torvane.dat", kDataFileLimits, add,
                               [](std::uint64_t i) { return Sample(static_cast<int>(i)); });
    bool consistent = false;
    const auto records = ReadDataFile(dir / "Torvane.dat", &consistent);
    ASSERT_TRUE(records);
    EXPECT_TRUE(consistent);
    const auto max = kDataFileLimits.MaxRecords();
    EXPECT_EQ(records->back(), Sample(static_cast<int>(max)));
    EXPECT_EQ(records->front(), Sample(static_cast<int>(max - kDataFileLimits.KeepOnReduce())));
}

TEST_F(EventLogTest, EventReductionKeepsTheNewest) {
    CEventLog log("Torvane", LogSetup());
    auto add = [&](const CEventLogRecord& r) { return log.AddEvent(r); };
    ExpectReductionKeepsNewest(dir_ / "Torvane.evt", kEventFileLimits, add, [](std::uint64_t i) {
        return CEventLogRecord(kEvSelfTest, 4, kT0 + static_cast<std::uint32_t>(i));
    });
    ASSERT_TRUE(log.ReadAll());
    EXPECT_EQ(log.Records().back().time, kT0 + kEventFileLimits.MaxRecords());
}

// Windows will not replace a file the log still holds open: a reduction that renames over its
// own open file fails there, and from then on every record is dropped.
TEST_F(EventLogTest, FullLogsKeepAppendingWhereOpenFilesCannotBeReplaced) {
    test::WindowsSharingRules windows;
    const std::size_t descriptors = test::OpenDescriptorCount();
    CEventLog events("Torvane", LogSetup());
    CDataLog data(dir_ / "Torvane.dat");
    // Each log goes through its limit several times.
    const std::uint64_t eventCount = 4 * kEventFileLimits.MaxRecords();
    for (std::uint64_t i = 0; i < eventCount; ++i) {
        ASSERT_TRUE(events.AddEvent({kEvSelfTest, 4, kT0 + static_cast<std::uint32_t>(i)}))
            << "event " << i;
    }
    const std::uint64_t sampleCount = 4 * kDataFileLimits.MaxRecords();
    for (std::uint64_t i = 0; i < sampleCount; ++i) {
        ASSERT_TRUE(data.AddSample(Sample(static_cast<int>(i)))) << "sample " << i;
    }
    EXPECT_EQ(windows.refused(), 0);
    EXPECT_GE(windows.replaced(), 2 * 4);  // the reductions did replace the files
    EXPECT_EQ(test::OpenDescriptorCount(), descriptors);

    EXPECT_LT(fs::file_size(dir_ / "Torvane.evt"), kEventFileLimits.limit);
    EXPECT_LT(fs::file_size(dir_ / "Torvane.dat"), kDataFileLimits.limit);
    bool consistent = false;
    const auto evt = ReadEventFile(dir_ / "Torvane.evt", &consistent);
    ASSERT_TRUE(evt);
    EXPECT_TRUE(consistent);
    EXPECT_EQ(evt->back().time, kT0 + eventCount - 1);
    const auto dat = ReadDataFile(dir_ / "Torvane.dat", &consistent);
    ASSERT_TRUE(dat);
    EXPECT_TRUE(consistent);
    EXPECT_EQ(dat->back(), Sample(static_cast<int>(sampleCount - 1)));
}

TEST_F(EventLogTest, TornAppendIsRepairedOnLoadAndBeforeTheNextAppend) {
    // The count was written ahead of a record that never arrived whole.
    const fs::path file = dir_ / "Torvane.evt";
    fs::copy_file(test::DataPath("torn_count_first.evt"), file);
    bool consistent = true;
    EXPECT_EQ(ReadEventFile(file, &consistent)->size(), 2u);
    EXPECT_FALSE(consistent);

    CEventLog log("Torvane", LogSetup());
    ASSERT_TRUE(log.ReadAll());
    EXPECT_EQ(log.Records().size(), 2u);
    auto repaired = ReadData("three_events.evt");
    repaired.resize(4 + 2 * 10);
    repaired[0] = 2;
    EXPECT_EQ(ReadFile(file), repaired);

    // Torn again; this time the next append finds it first.
    fs::copy_file(test::DataPath("torn_count_first.evt"), file,
                  fs::copy_options::overwrite_existing);
    ASSERT_TRUE(log.AddEvent({kEvSystemShutdown, 4, kT0 + 120}));
    EXPECT_EQ(ReadFile(file), ReadData("three_events.evt"));
}

TEST_F(EventLogTest, RecordWrittenButCountNotIsKept) {
    const fs::path file = dir_ / "Torvane.evt";
    fs::copy_file(test::DataPath("count_behind.evt"), file);
    CEventLog log("Torvane", LogSetup());
    ASSERT_TRUE(log.AddEvent({kEvUpsFailure, 4, kT0 + 180}));
    bool consistent = false;
    const auto records = ReadEventFile(file, &consistent);
    ASSERT_TRUE(records);
    EXPECT_TRUE(consistent);
    ASSERT_EQ(records->size(), 4u);
    EXPECT_EQ((*records)[2].eventId, kEvSystemShutdown);
    EXPECT_EQ((*records)[3].eventId, kEvUpsFailure);
}

TEST(DataLog, ShortOrGarbageFilesAreStartedAnew) {
    TempDir dir;
    test::WriteFile(dir / "Torvane.dat", {0xFF, 0xFF});  // not even a whole count
    CDataLog log(dir / "Torvane.dat");
    ASSERT_TRUE(log.ReadAll());
    EXPECT_TRUE(log.Records().empty());
    ASSERT_TRUE(log.AddSample(Sample(0)));
    const auto bytes = ReadFile(dir / "Torvane.dat");
    ASSERT_EQ(bytes.size(), 32u);
    EXPECT_EQ(bytes[0], 1);
}

TEST(DataLog, LinkFormWithHostileCountFailsWithoutAllocating) {
    const std::vector<std::uint8_t> bytes{0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3};
    CDataLog log("/nonexistent/x.dat");
    EXPECT_EQ(LoadRecordBytes(log, bytes), LoadResult::Partial);
    EXPECT_TRUE(log.Records().empty());
}

TEST(DataLog, UnwritableDirectoryDropsTheSample) {
    CDataLog log("/nonexistent-dir/Torvane.dat");
    EXPECT_FALSE(log.AddSample(Sample(0)));
    EXPECT_FALSE(log.ReadAll());
}

TEST(EventTexts, IdsMapToTheMessageTable) {
    EXPECT_EQ(EventText(0x64), "The service was installed.");
    EXPECT_EQ(EventText(0x6b), "Debug: %1");
    EXPECT_EQ(EventText(0x77), "UPS Failure");
    EXPECT_EQ(EventText(0x63), "");
    EXPECT_EQ(EventText(0x78), "");
    EXPECT_EQ(EventTypeName(2), "Warning");
}

}  // namespace
}  // namespace ups
