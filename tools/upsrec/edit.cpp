#include "edit.h"

#include "common.h"
#include "ups_lib/config_fields.h"

namespace upsrec {

using ups::ConfigField;
using ups::ConfigFields;
using ups::ConfigValueNote;
using ups::FindConfigField;

using json = nlohmann::ordered_json;

namespace {

std::int64_t JsonInteger(const json& v, std::int64_t min, std::int64_t max, std::string_view what) {
    if (!v.is_number_integer()) throw Failure(std::string(what) + ": expected a whole number");
    const std::int64_t n =
        v.is_number_unsigned()
            ? static_cast<std::int64_t>(std::min<std::uint64_t>(v.get<std::uint64_t>(), INT64_MAX))
            : v.get<std::int64_t>();
    if (n < min || n > max) {
        throw Failure(std::string(what) + ": " + std::to_string(n) + " is outside " +
                      std::to_string(min) + ".." + std::to_string(max));
    }
    return n;
}

std::string JsonString(const json& v, std::string_view what) {
    if (!v.is_string()) throw Failure(std::string(what) + ": expected a string");
    return v.get<std::string>();
}

void SetConfigField(ups::CConfig& c, const ConfigField& f,
                    std::variant<std::int64_t, std::string> v) {
    std::visit(
        [&](auto member) {
            using T = std::decay_t<decltype(c.*member)>;
            if constexpr (std::is_same_v<T, std::string>) {
                auto& s = std::get<std::string>(v);
                if (s.size() > f.maxLength) {
                    throw Failure(std::string(f.name) + ": longer than " +
                                  std::to_string(f.maxLength) + " characters");
                }
                c.*member = std::move(s);
            } else {
                c.*member = static_cast<std::int32_t>(std::get<std::int64_t>(v));
            }
        },
        f.member);
}

bool IsString(const ConfigField& f) {
    return std::holds_alternative<std::string ups::CConfig::*>(f.member);
}

const ConfigField& RequireField(std::string_view name) {
    const ConfigField* f = FindConfigField(name);
    if (f == nullptr) throw Failure("config has no field \"" + std::string(name) + "\"");
    return *f;
}

std::string* MsgTabField(ups::CMsgTab& m, std::string_view name, std::size_t kind) {
    if (name == "text") return &m.text[kind];
    if (name == "address") return &m.address[kind];
    if (name == "number") return &m.number[kind];
    if (name == "code") return &m.code[kind];
    return nullptr;
}

void SetEntryField(ups::CScheduleDetail& e, std::string_view name, std::string_view text,
                   const json* value) {
    const std::string what = "schedule " + std::string(name);
    if (name == "event" || name == "frequency") {
        const std::int64_t max = name == "event" ? 2 : 4;
        const auto v = value ? JsonInteger(*value, 0, max, what) : ParseInteger(text, 0, max, what);
        (name == "event" ? e.event : e.frequency) = static_cast<std::uint16_t>(v);
    } else if (name == "testLength") {
        e.testLength = static_cast<std::int32_t>(value ? JsonInteger(*value, -1, INT32_MAX, what)
                                                       : ParseInteger(text, -1, INT32_MAX, what));
    } else if (name == "time") {
        if (value && value->is_string())
            e.time = static_cast<std::uint32_t>(ParseTime(value->get<std::string>()));
        else if (value)
            e.time = static_cast<std::uint32_t>(JsonInteger(*value, 0, 0xFFFFFFFFLL, what));
        else
            e.time = static_cast<std::uint32_t>(ParseTime(text));
    } else if (name != "localTime") {  // printed by show, ignored on input
        throw Failure("schedule entries have no field \"" + std::string(name) + "\"");
    }
}

}  // namespace

void ApplyConfigJson(ups::CConfig& c, const json& j) {
    if (!j.is_object()) throw Failure("config JSON must be an object of fields");
    for (const auto& [name, v] : j.items()) {
        const ConfigField& f = RequireField(name);
        if (IsString(f))
            SetConfigField(c, f, JsonString(v, f.name));
        else
            SetConfigField(c, f, JsonInteger(v, f.min, f.max, f.name));
    }
}

void ApplyConfigAssignment(ups::CConfig& c, std::string_view field, std::string_view value) {
    const ConfigField& f = RequireField(field);
    if (IsString(f))
        SetConfigField(c, f, std::string(value));
    else
        SetConfigField(c, f, ParseInteger(value, f.min, f.max, f.name));
}

void ApplyMsgTabJson(ups::CMsgTab& m, const json& j) {
    if (!j.is_object() || !j.contains("kinds") || !j["kinds"].is_array()) {
        throw Failure("msgtab JSON must be an object with a \"kinds\" array");
    }
    const auto& kinds = j["kinds"];
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        const auto& k = kinds[i];
        if (!k.is_object()) throw Failure("msgtab kinds must be objects");
        const std::size_t kind =
            k.contains("kind") ? static_cast<std::size_t>(JsonInteger(k["kind"], 0, 6, "kind")) : i;
        if (kind >= ups::kNotifyKinds) throw Failure("msgtab has only kinds 0 to 6");
        for (const auto& [name, v] : k.items()) {
            if (name == "kind" || name == "event") continue;
            std::string* target = MsgTabField(m, name, kind);
            if (target == nullptr) throw Failure("msgtab kinds have no field \"" + name + "\"");
            *target = JsonString(v, name);
        }
    }
}

void ApplyMsgTabAssignment(ups::CMsgTab& m, std::string_view field, std::string_view value) {
    if (field.empty() || field.back() < '0' || field.back() > '6') {
        throw Failure("msgtab fields are textN, addressN, numberN or codeN with N from 0 to 6");
    }
    const auto kind = static_cast<std::size_t>(field.back() - '0');
    std::string* target = MsgTabField(m, field.substr(0, field.size() - 1), kind);
    if (target == nullptr) {
        throw Failure("msgtab has no field \"" + std::string(field) + "\"");
    }
    *target = std::string(value);
}

void ApplyScheduleJson(std::vector<ups::CScheduleDetail>& entries, const json& j) {
    if (!j.is_object() || !j.contains("entries") || !j["entries"].is_array()) {
        throw Failure("schedule JSON must be an object with an \"entries\" array");
    }
    std::vector<ups::CScheduleDetail> list;
    for (const auto& e : j["entries"]) {
        if (!e.is_object() || !e.contains("event") || !e.contains("frequency") ||
            !e.contains("time")) {
            throw Failure("each schedule entry needs event, frequency and time");
        }
        ups::CScheduleDetail d;
        for (const auto& [name, v] : e.items()) SetEntryField(d, name, {}, &v);
        list.push_back(d);
    }
    entries = std::move(list);
}

void ApplyScheduleAssignment(std::vector<ups::CScheduleDetail>& entries, std::string_view field,
                             std::string_view value) {
    if (field == "remove") {
        if (entries.empty()) throw Failure("remove: the schedule is empty");
        const auto i =
            ParseInteger(value, 0, static_cast<std::int64_t>(entries.size()) - 1, "remove");
        entries.erase(entries.begin() + i);
        return;
    }
    const auto dot = field.find('.');
    if (dot == std::string_view::npos) {
        throw Failure("schedule fields are N.event, N.frequency, N.testLength, N.time or remove");
    }
    const auto i = ParseInteger(field.substr(0, dot), 0, static_cast<std::int64_t>(entries.size()),
                                "schedule entry number");
    if (static_cast<std::size_t>(i) == entries.size()) entries.emplace_back();
    SetEntryField(entries[static_cast<std::size_t>(i)], field.substr(dot + 1), value, nullptr);
}

}  // namespace upsrec
