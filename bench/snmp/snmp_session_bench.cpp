// The agent access against a live agent: resident memory across many reconnects (each one a
// new session that must replace, not pile up on, the one before) and the time of one status
// poll. Run by ./run inside the network namespace that holds the agent.
//
//     snmp_session_bench PEER COMMUNITY [RECONNECTS] [POLLS]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "snmp_access.h"
#include "snmp_ups.h"

namespace {

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s PEER COMMUNITY [RECONNECTS] [POLLS]\n", argv[0]);
        return 2;
    }
    const int reconnects = argc > 3 ? std::atoi(argv[3]) : 1000;
    const int polls = argc > 4 ? std::atoi(argv[4]) : 200;
    UPS_report_to(nullptr);
    upsconf_load(argv[1], argv[2]);
    if (UPS_init() != 1) {
        std::fprintf(stderr, "no answer from %s\n", argv[1]);
        return 1;
    }
    std::string reply;
    using Clock = std::chrono::steady_clock;
    auto started = Clock::now();
    for (int i = 0; i < polls; ++i) {
        if (S_GetStatus(reply) != 1) {
            std::fprintf(stderr, "poll %d failed\n", i);
            return 1;
        }
    }
    const double poll_us =
        std::chrono::duration<double, std::micro>(Clock::now() - started).count() / polls;

    // Warm up: the first sessions settle the library's own tables.
    for (int i = 0; i < 10; ++i) UPS_init();
    const long before = ResidentKiB();
    long at_tenth = 0;
    int failed = 0;
    for (int i = 1; i <= reconnects; ++i) {
        if (UPS_init() != 1 || S_GetStatus(reply) != 1) ++failed;
        if (i == reconnects / 10) at_tenth = ResidentKiB();
    }
    const long after = ResidentKiB();
    UPS_close();
    std::printf("status poll (2 GETs, no pacing): %.0f us\n", poll_us);
    std::printf(
        "resident: %ld KiB after warm-up, %ld KiB after %d reconnects, %ld KiB after %d"
        " (%+ld KiB; %d failed)\n",
        before, at_tenth, reconnects / 10, after, reconnects, after - before, failed);
    return failed == 0 ? 0 : 1;
}
