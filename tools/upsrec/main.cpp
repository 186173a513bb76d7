// upsrec: reads the agent's records without the control panel, writes default records, and
// changes the registry records field by field.
//
//   upsrec show KIND [FILE] [--json]
//   upsrec defaults KIND
//   upsrec set KIND [--json FILE] [FIELD=VALUE ...]
//   upsrec --agent HOST[:PORT] ...   (agent_commands.cpp)
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <optional>

#include "agent_commands.h"
#include "common.h"
#include "edit.h"
#include "input.h"
#include "show.h"
#include "ups_lib/data_log.h"
#include "ups_lib/event_log.h"
#include "ups_lib/log_list.h"
#include "ups_lib/log_reader.h"
#include "ups_lib/platform/atomic_file.h"
#include "ups_lib/platform/paths.h"
#include "ups_lib/platform/registry.h"

namespace upsrec {

namespace {

constexpr std::string_view kUsage =
    "usage: upsrec show KIND [FILE] [--json]\n"
    "       upsrec defaults KIND\n"
    "       upsrec set KIND [--json FILE] [FIELD=VALUE ...]\n"
    "       upsrec --agent HOST[:PORT] [--password P] [--json] [--timeout S] COMMAND\n"
    "KIND: config, msgtab, schedule, eventlog, datalog, closeinfo, status, basicinfo, ratinginfo\n"
    "FILE: archive bytes (\"-\" for standard input), an .evt or .dat file, or CLOSEAPP.INI.\n"
    "Without FILE, config, msgtab and schedule come from the registry ($TORVANE_REGISTRY) and the\n"
    "logs and CLOSEAPP.INI from the program directory ($TORVANE_HOME).\n"
    "With --agent, the records and commands of a running agent over TCP (PORT: $TORVANE_TCP_PORT,\n"
    "else 2570; each wait lasts S seconds at most, 10 by default). COMMAND is one of\n"
    "  show status|basicinfo|ratinginfo|config|msgtab|schedule|eventlog|datalog|closeinfo\n"
    "  set config|msgtab|schedule [--json FILE] [FIELD=VALUE ...]\n"
    "  beeper, test10, testlow, test MINUTES, cancel, clear-eventlog, clear-datalog\n";

constexpr std::pair<std::string_view, Kind> kKinds[] = {
    {"config", Kind::Config},     {"msgtab", Kind::MsgTab},       {"schedule", Kind::Schedule},
    {"eventlog", Kind::EventLog}, {"datalog", Kind::DataLog},     {"closeinfo", Kind::CloseInfo},
    {"status", Kind::Status},     {"basicinfo", Kind::BasicInfo}, {"ratinginfo", Kind::RatingInfo},
};

void Out(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
}

void Note(const std::string& text) {
    std::fprintf(stderr, "upsrec: %s\n", text.c_str());
}

// Loads a registry record for showing or changing. Only a value that is not there gives the
// defaults: one that cannot be read or is damaged is an error, so that it is never shown as
// the defaults or replaced by them.
void LoadFromRegistry(ups::Serializable& record, std::string_view key, std::string_view value,
                      std::string_view kind, bool forChange) {
    const auto read = ups::platform::SystemRegistry().ReadValue(key, value);
    const std::string what = "the " + std::string(kind) + " value in the registry (" +
                             std::string(key) + "\\" + std::string(value) + ")";
    const std::string unchanged = forChange ? "; not changed" : "";
    switch (read.status) {
        case ups::platform::ReadStatus::NotFound:
            if (!forChange)
                Note("no " + std::string(kind) + " in the registry; showing the defaults");
            return;
        case ups::platform::ReadStatus::Unreadable:
            throw Failure(what + " cannot be read (" + read.problem + ")" + unchanged);
        case ups::platform::ReadStatus::Found:
            if (ups::LoadRecordBytes(record, read.bytes) != ups::LoadResult::Loaded)
                throw Failure(what + " is damaged" + unchanged);
            return;
    }
}

template <typename Record>
void LoadFromRegistry(Record& record, std::string_view kind, bool forChange) {
    LoadFromRegistry(record, record.Key(), record.Value(), kind, forChange);
}

std::vector<ups::CScheduleDetail> LoadSchedule(const std::optional<std::string>& file) {
    ups::CSchedule schedule;
    if (file)
        LoadStrict(schedule, ReadInput(*file, kRegistryRecordInput), "schedule");
    else
        LoadFromRegistry(schedule, ups::kScheduleKey, ups::kScheduleValue, "schedule", false);
    return schedule.Entries();
}

// A larger value could not be read back: the agent would take it for missing and run on the
// defaults, and the next change would be made to the defaults.
void RequireFitsTheRegistry(ups::Serializable& record, std::string_view kind) {
    const auto size = ups::ToBytes(record).size();
    if (size > ups::platform::Registry::kMaxValueSize) {
        throw Failure(std::string(kind) + ": the record would take " + std::to_string(size) +
                      " bytes, more than the " +
                      std::to_string(ups::platform::Registry::kMaxValueSize) +
                      " bytes a registry value may hold; not changed");
    }
}

// The log a file holds, read no further than the largest log the agent writes: a file of
// another origin is refused, not taken into memory.
template <typename Record, typename Parser>
std::vector<Record> LoadLog(const std::optional<std::string>& file,
                            const std::filesystem::path& own, Parser parse, const InputLimit& limit,
                            std::string_view kind) {
    if (file && *file == "-") {
        // The link form (count and records) on standard input.
        std::vector<Record> records;
        const auto bytes = ReadInput("-", limit);
        ups::MemorySource source(bytes);
        ups::Archive ar = ups::Archive::Loading(source);
        try {
            ups::SerializeRecordList(ar, records);
        } catch (const ups::ArchiveError& e) {
            throw Failure(std::string(kind) + ": not a valid record list (" + e.what() + ")");
        }
        if (ar.Consumed() != bytes.size())
            throw Failure(std::string(kind) + ": unexpected bytes after the records");
        return records;
    }
    const std::filesystem::path path = file ? std::filesystem::path(*file) : own;
    std::error_code ec;
    if (!file && !std::filesystem::exists(path, ec)) {
        Note("no " + std::string(kind) + " at " + path.string());
        return {};
    }
    bool consistent = true;
    auto records = parse(ReadInput(path.string(), limit), &consistent);
    if (!consistent) {
        Note(path.string() +
             ": the record count disagrees with the file (an interrupted append); "
             "showing the " +
             std::to_string(records.size()) + " whole records");
    }
    return records;
}

ups::CCloseInfo LoadCloseInfo(const std::optional<std::string>& file) {
    ups::CCloseInfo info;
    if (file && *file == "-") {
        LoadStrict(info, ReadInput("-", kCloseInfoInput), "closeinfo");
        return info;
    }
    const std::filesystem::path path =
        file ? std::filesystem::path(*file) : ups::CCloseInfo::DefaultFile();
    ups::platform::ReadError error = ups::platform::ReadError::Unreadable;
    const auto ini = ups::IniFile::Load(path, &error);
    if (!ini) {
        if (error == ups::platform::ReadError::TooLarge)
            throw Failure(TooLargeMessage(path.string(), kCloseInfoInput));
        if (error != ups::platform::ReadError::Missing)
            throw Failure(path.string() + ": cannot be read");
        if (file) throw Failure(*file + ": no such file");
        Note("no " + path.string() + "; no applications were closed");
        return info;
    }
    // Read only: showing the report does not mark it as shown.
    info.LoadFrom(*ini);
    return info;
}

int Show(Kind kind, const std::optional<std::string>& file, bool asJson) {
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    auto emit = [&](const nlohmann::ordered_json& j, const std::string& text) {
        Out(asJson ? Dump(j) : text);
    };
    switch (kind) {
        case Kind::Config: {
            ups::CConfig c;
            if (file)
                LoadStrict(c, ReadInput(*file, kRegistryRecordInput), "config");
            else
                LoadFromRegistry(c, "config", false);
            emit(ConfigJson(c), ConfigText(c));
            break;
        }
        case Kind::MsgTab: {
            ups::CMsgTab m;
            if (file)
                LoadStrict(m, ReadInput(*file, kRegistryRecordInput), "msgtab");
            else
                LoadFromRegistry(m, "msgtab", false);
            emit(MsgTabJson(m), MsgTabText(m));
            break;
        }
        case Kind::Schedule: {
            const auto entries = LoadSchedule(file);
            emit(ScheduleJson(entries), ScheduleText(entries, now));
            break;
        }
        case Kind::EventLog: {
            const auto own = ups::platform::ProgramDirectory() / "Torvane.evt";
            const auto records = LoadLog<ups::CEventLogRecord>(file, own, ups::EventFileRecords,
                                                               kEventLogInput, "event log");
            emit(EventLogJson(records), EventLogText(records));
            break;
        }
        case Kind::DataLog: {
            const auto own = ups::DataFileFor(ups::platform::ProgramPath());
            const auto records = LoadLog<ups::CDataLogRecord>(file, own, ups::DataFileRecords,
                                                              kDataLogInput, "data log");
            emit(DataLogJson(records), DataLogText(records));
            break;
        }
        case Kind::CloseInfo: {
            const auto info = LoadCloseInfo(file);
            emit(CloseInfoJson(info), CloseInfoText(info));
            break;
        }
        case Kind::Status:
        case Kind::BasicInfo:
        case Kind::RatingInfo: {
            if (!file)
                throw Failure(std::string(KindName(kind)) +
                              " needs a FILE (or - for standard input)");
            const auto bytes = ReadInput(*file, kUpsRecordInput);
            if (kind == Kind::Status) {
                ups::CUPSStatus r;
                LoadStrict(r, bytes, "status");
                emit(StatusJson(r.Get()), StatusText(r.Get()));
            } else if (kind == Kind::BasicInfo) {
                ups::CUPSBasicInfo r;
                LoadStrict(r, bytes, "basicinfo");
                emit(BasicInfoJson(r.Get()), BasicInfoText(r.Get()));
            } else {
                ups::CUPSRatingInfo r;
                LoadStrict(r, bytes, "ratinginfo");
                emit(RatingInfoJson(r.Get()), RatingInfoText(r.Get()));
            }
            break;
        }
    }
    return 0;
}

int Defaults(Kind kind) {
    std::vector<std::uint8_t> bytes;
    if (kind == Kind::Config) {
        ups::CConfig c;
        bytes = ups::ToBytes(c);
    } else if (kind == Kind::MsgTab) {
        ups::CMsgTab m;
        bytes = ups::ToBytes(m);
    } else if (kind == Kind::Schedule) {
        ups::CSchedule s;
        bytes = ups::ToBytes(s);
    } else {
        throw Failure("defaults is for config, msgtab and schedule");
    }
    if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size() ||
        std::fflush(stdout) != 0) {
        throw Failure("cannot write to standard output");
    }
    return 0;
}

nlohmann::ordered_json ReadJsonFile(const std::string& file) {
    const auto bytes = ReadInput(file, kJsonInput);
    try {
        return nlohmann::ordered_json::parse(bytes.begin(), bytes.end());
    } catch (const nlohmann::ordered_json::parse_error& e) {
        throw Failure((file == "-" ? std::string("standard input") : file) + ": not valid JSON (" +
                      e.what() + ")");
    }
}

int Set(Kind kind, const std::optional<std::string>& jsonFile,
        const std::vector<std::pair<std::string, std::string>>& assignments) {
    if (!jsonFile && assignments.empty()) throw Failure("set: nothing to change");
    std::optional<nlohmann::ordered_json> j;
    if (jsonFile) j = ReadJsonFile(*jsonFile);
    // Everything is applied to a copy and checked before the one store at the end, so a bad
    // word anywhere changes nothing.
    bool stored = false;
    if (kind == Kind::Config) {
        ups::CConfig c;
        LoadFromRegistry(c, "config", true);
        if (j) ApplyConfigJson(c, *j);
        for (const auto& [f, v] : assignments) ApplyConfigAssignment(c, f, v);
        RequireFitsTheRegistry(c, "config");
        stored = c.Store();
    } else if (kind == Kind::MsgTab) {
        ups::CMsgTab m;
        LoadFromRegistry(m, "msgtab", true);
        if (j) ApplyMsgTabJson(m, *j);
        for (const auto& [f, v] : assignments) ApplyMsgTabAssignment(m, f, v);
        RequireFitsTheRegistry(m, "msgtab");
        stored = m.Store();
    } else if (kind == Kind::Schedule) {
        ups::CSchedule s;
        LoadFromRegistry(s, ups::kScheduleKey, ups::kScheduleValue, "schedule", true);
        auto entries = s.Entries();
        if (j) ApplyScheduleJson(entries, *j);
        for (const auto& [f, v] : assignments) ApplyScheduleAssignment(entries, f, v);
        s.RemoveAll();
        for (const auto& e : entries) s.Add(e);
        RequireFitsTheRegistry(s, "schedule");
        stored = s.WriteAll();
    } else {
        throw Failure("set is for config, msgtab and schedule");
    }
    if (!stored)
        throw Failure("cannot write the registry (check $TORVANE_REGISTRY and permissions)");
    return 0;
}

int Run(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) throw Failure(std::string("missing command\n") + std::string(kUsage));
    if (args[0] == "-h" || args[0] == "--help" || args[0] == "help") {
        Out(std::string(kUsage));
        return 0;
    }
    if (args[0] == "--agent") {
        std::string out;
        const int status = RunAgent(args, out);
        Out(out);
        return status;
    }
    const std::string command = args[0];
    if (args.size() < 2) throw Failure(command + ": missing KIND\n" + std::string(kUsage));
    const Kind kind = ParseKind(args[1]);
    const std::vector<std::string> rest(args.begin() + 2, args.end());

    if (command == "show") {
        bool asJson = false;
        std::optional<std::string> file;
        for (const auto& a : rest) {
            if (a == "--json")
                asJson = true;
            else if (a.size() > 1 && a[0] == '-')
                throw Failure("show: unknown option " + a);
            else if (file)
                throw Failure("show: more than one FILE");
            else
                file = a;
        }
        return Show(kind, file, asJson);
    }
    if (command == "defaults") {
        if (!rest.empty()) throw Failure("defaults takes no more arguments");
        return Defaults(kind);
    }
    if (command == "set") {
        std::optional<std::string> jsonFile;
        std::vector<std::pair<std::string, std::string>> assignments;
        for (std::size_t i = 0; i < rest.size(); ++i) {
            if (rest[i] == "--json") {
                if (i + 1 >= rest.size()) throw Failure("set: --json needs a FILE");
                if (jsonFile) throw Failure("set: --json given twice");
                jsonFile = rest[++i];
                continue;
            }
            const auto eq = rest[i].find('=');
            if (eq == std::string::npos || eq == 0) {
                throw Failure("set: \"" + rest[i] + "\" is not FIELD=VALUE");
            }
            assignments.emplace_back(rest[i].substr(0, eq), rest[i].substr(eq + 1));
        }
        return Set(kind, jsonFile, assignments);
    }
    throw Failure("unknown command \"" + command + "\"\n" + std::string(kUsage));
}

}  // namespace

Kind ParseKind(std::string_view name) {
    for (const auto& [n, k] : kKinds) {
        if (n == name) return k;
    }
    throw Failure("unknown KIND \"" + std::string(name) +
                  "\" (config, msgtab, schedule, eventlog, datalog, closeinfo, status, basicinfo, "
                  "ratinginfo)");
}

std::string_view KindName(Kind kind) {
    for (const auto& [n, k] : kKinds) {
        if (k == kind) return n;
    }
    return "?";
}

}  // namespace upsrec

int main(int argc, char** argv) {
    try {
        return upsrec::Run(argc, argv);
    } catch (const upsrec::Failure& e) {
        std::fprintf(stderr, "upsrec: %s\n", e.what());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "upsrec: %s\n", e.what());
    }
    return 1;
}
