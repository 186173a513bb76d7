// An SNMP agent as a table of value texts, as the access layer prints them, for drawing the SNMP
// pages without a network. It counts what it is asked, and can go silent like an agent that
// stopped.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "snmp_draw.h"
#include "snmp_objects.h"
#include "status_screen.h"

struct FakeAgent {
    std::map<snmp::Obj, std::string> values;
    bool up = true;
    int inits = 0;
    int pauses = 0;
    int daemon = 1;
    std::map<snmp::Obj, int> reads;
    // When not negative: the reads the agent still answers before it falls silent.
    int answer_reads = -1;

    std::optional<std::string> Read(snmp::Obj object) {
        ++reads[object];
        if (answer_reads == 0) up = false;
        if (answer_reads > 0) --answer_reads;
        if (!up) return std::nullopt;
        auto it = values.find(object);
        if (it == values.end()) return std::nullopt;
        return it->second;
    }
    int Reads(snmp::Obj object) const {
        auto it = reads.find(object);
        return it == reads.end() ? 0 : it->second;
    }
    int TotalReads() const {
        int n = 0;
        for (const auto& [object, count] : reads) n += count;
        return n;
    }
    SnmpRead Reader() {
        return [this](snmp::Obj object) { return Read(object); };
    }
    SnmpPorts Ports() {
        return SnmpPorts{
            .init =
                [this] {
                    ++inits;
                    return up ? 1 : -1;
                },
            .read = Reader(),
            .daemon_present = [this] { return daemon; },
            .pause = [this] { ++pauses; },
        };
    }

    // A UPS on a 230 V line, everything normal.
    static FakeAgent Normal() {
        FakeAgent a;
        a.values = {
            {snmp::kModel, "\"SIM-1000\""},
            {snmp::kName, "\"Stavlen\""},
            {snmp::kLineVoltage, "2300"},
            {snmp::kBatteryStatus, "2"},
            {snmp::kTimeOnBattery, "0"},
            {snmp::kBatteryCapacity, "100"},
            {snmp::kBatteryVoltage, "272"},
            {snmp::kTemperature, "250"},
            {snmp::kBatteryRatingVoltage, "240"},
            {snmp::kLastSpike, "2450"},
            {snmp::kLastSag, "2150"},
            {snmp::kInputFrequency, "500"},
            {snmp::kLastFailureCause, "3"},
            {snmp::kOutputStatus, "2"},
            {snmp::kOutputVoltage, "2300"},
            {snmp::kOutputFrequency, "500"},
            {snmp::kOutputLoad, "21"},
            {snmp::kSelfTestState, "3"},
        };
        return a;
    }
};
