// upssim: a UPS speaking the Q1 or the SEC serial dialect on a pseudo-terminal, steered over a
// control socket, for demonstrations and end-to-end tests. It shares no code with the programs it
// tests, so a protocol mistake cannot hide on both sides.
#include <cstdio>
#include <string>
#include <string_view>

#include "ctl_client.h"
#include "options.h"
#include "simulator.h"

int main(int argc, char** argv) {
    if (argc >= 2 && std::string_view(argv[1]) == "ctl") return upssim::run_ctl(argc, argv);
    if (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
        std::fputs(upssim::kUsage, stdout);
        return 0;
    }
    upssim::Options options;
    std::string error;
    if (!upssim::parse_options(argc, argv, options, error)) {
        std::fprintf(stderr, "upssim: %s\n%s", error.c_str(), upssim::kUsage);
        return 2;
    }
    return upssim::run_simulator(options);
}
