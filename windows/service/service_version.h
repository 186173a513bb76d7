#pragma once

namespace torvane {

inline constexpr const char* kServiceName = "Torvane";

}  // namespace torvane
