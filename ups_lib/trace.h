// The debug trace: short lines for developers, never for users. On Windows they go to the
// debugger; elsewhere to standard error when TORVANE_TRACE is set. Tests install their own sink.
#pragma once

#include <functional>
#include <string_view>

namespace ups {

using TraceSink = std::function<void(std::string_view)>;

void Trace(std::string_view line);
// Replaces the sink for the whole process; an empty function restores the default.
// Returns the previous sink.
TraceSink SetTraceSink(TraceSink sink);

}  // namespace ups
