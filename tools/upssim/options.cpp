#include "options.h"

#include <charconv>
#include <cmath>
#include <string_view>

namespace upssim {
namespace {

bool parse_scale(std::string_view text, double& scale) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), scale);
    // Beyond these bounds delays round to nothing or to years; neither is a useful test.
    return ec == std::errc() && end == text.data() + text.size() && std::isfinite(scale) &&
           scale >= 1e-3 && scale <= 1e6;
}

}  // namespace

bool parse_options(int argc, char** argv, Options& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        std::string_view value;
        bool has_value = false;
        if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            has_value = true;
        }
        std::string* target = nullptr;
        if (arg == "--link")
            target = &options.link;
        else if (arg == "--control")
            target = &options.control;
        else if (arg == "--log")
            target = &options.log;
        else if (arg == "--control-log")
            target = &options.control_log;
        else if (arg == "--state-file")
            target = &options.state_file;
        else if (arg != "--time-scale" && arg != "--dialect")
            return error = "unknown option " + std::string(arg), false;

        if (!has_value) {
            if (i + 1 >= argc) return error = std::string(arg) + " needs a value", false;
            value = argv[++i];
        }
        if (value.empty()) return error = std::string(arg) + " needs a value", false;
        if (target) {
            *target = value;
        } else if (arg == "--dialect") {
            if (value == "q1") {
                options.dialect = Dialect::q1;
            } else if (value == "sec") {
                options.dialect = Dialect::sec;
            } else {
                return error = "--dialect must be q1 or sec", false;
            }
        } else if (!parse_scale(value, options.time_scale)) {
            return error = "--time-scale must be a number from 0.001 to 1000000", false;
        }
    }
    if (options.link.empty()) return error = "--link is required", false;
    return true;
}

}  // namespace upssim
