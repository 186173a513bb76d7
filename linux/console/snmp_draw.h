// Drawing the SNMP displays' pages from an agent's readings. The readings come through a
// function, so the pages can be drawn from the agent or, in tests, from a table.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "screen_data.h"
#include "snmp_objects.h"

// One reading: the value's text as the access layer prints it (digits for a number, a string
// in double quotes), or nothing when the agent gave none.
using SnmpRead = std::function<std::optional<std::string>(snmp::Obj)>;

// The agent of the access layer's session.
std::optional<std::string> AgentRead(snmp::Obj object);

struct SnmpDrawState {
    int flash = 0;  // blink phase: alarms are in standout on every other main-page pass
    int reps = 0;   // main-page passes since the slow rows were last read (0 to 29)
};

// A reading as a number the way the C library's conversion takes it: the leading number, 0
// for text without one; saturated, so no agent's value can overflow it.
int SnmpInt(std::string_view text);

// Keeps the text up to and including its second double quote (the access layer's string,
// without whatever follows it); a text with fewer than two quotes stays as it is.
void CleanString(std::string& text);

// Name and model of the UPS in the header, at (0, 42).
void UPSname_model(const SnmpRead& read);

// The main page's left pane: frame, labels, the states, the banner and the schedule values
// of the record. The slow rows are read on every 30th pass and whenever `full_redraw` asks.
void DrawSnmpLeft(ScreenData& data, bool full_redraw, SnmpDrawState& state, const SnmpRead& read);
// The main page's right pane: the five meters; the readings they show go into the record.
void DrawSnmpRight(ScreenData& data, const SnmpRead& read);
// The "more" page: every identification and configuration object the agent has.
void ScreenTwo(const SnmpRead& read);
// The screen of an agent that gives no data: every reading "N/A", the schedule values shown.
void SNMPnoDATA(const ScreenData& data);
