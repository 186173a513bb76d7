#include "trace.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#endif

namespace ups {

namespace {

std::mutex& TraceMutex() {
    static std::mutex m;
    return m;
}

TraceSink& CurrentSink() {
    static TraceSink sink;
    return sink;
}

void DefaultTrace(std::string_view line) {
#ifdef _WIN32
    const std::string text(line);
    OutputDebugStringA(text.c_str());
#else
    static const bool enabled = std::getenv("TORVANE_TRACE") != nullptr;
    if (enabled) std::fwrite(line.data(), 1, line.size(), stderr);
#endif
}

}  // namespace

void Trace(std::string_view line) {
    std::lock_guard lock(TraceMutex());
    if (CurrentSink())
        CurrentSink()(line);
    else
        DefaultTrace(line);
}

TraceSink SetTraceSink(TraceSink sink) {
    std::lock_guard lock(TraceMutex());
    return std::exchange(CurrentSink(), std::move(sink));
}

}  // namespace ups
