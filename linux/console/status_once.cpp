#include "status_once.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "config.h"
#include "daemon_probe.h"
#include "file_util.h"
#include "paths.h"
#include "q1_protocol.h"
#include "report_format.h"
#include "snmp_access.h"

namespace {

struct Reply {
    bool found = false;
    std::string text;
    int64_t modified = 0;
};

// The file's first `width` bytes without the last (the carriage return), as the status screen
// reads them, and when it was last written. Anything but a regular file (a FIFO, a directory)
// counts as missing, and nothing beyond `width` is read, however large the file.
Reply ReadReply(const q1::Query& query) {
    Reply r;
    kelvora::UniqueFd fd = kelvora::OpenRegular(kelvora::RootPath(query.file), O_RDONLY);
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0) return r;
    std::string buf(query.file_width, '\0');
    ssize_t n;
    do {
        n = ::pread(fd.get(), buf.data(), buf.size(), 0);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return r;
    buf.resize(static_cast<std::size_t>(n) - 1);
    r.found = true;
    r.text = std::move(buf);
    r.modified = static_cast<int64_t>(st.st_mtime);
    return r;
}

std::string Field(const char* text, std::size_t size) {
    return std::string(text, strnlen(text, size));
}

}  // namespace

void JudgeOnce(OnceResult& out, bool file_found, const std::string& where) {
    const StatusReport& r = out.report;
    if (!r.daemon_running) {
        out.status = kOnceNoDaemon;
        out.problem = "the daemon vornd is not running in " + kelvora::RootDir();
    } else if (!file_found) {
        out.status = kOnceNoReading;
        out.problem = "no status from the daemon: " + where + " is missing or empty";
    } else if (!r.fresh) {
        out.status = kOnceStale;
        out.problem = "the reading is stale: " + where + " was last written " +
                      std::to_string(r.age_seconds.value_or(0)) + " s ago";
    } else if (!r.reading) {
        out.status = kOnceNoReading;
        out.problem = "the UPS does not answer: no reading in " + where;
    } else {
        out.status = kOnceOk;
        out.problem.clear();
    }
    // What is not known to stand for now is not shown as a reading.
    if (out.status != kOnceOk) ForgetUps(out.report);
}

OnceResult StatusOnce(int64_t now) {
    OnceResult out;
    StatusReport& r = out.report;
    UpsConfig config{};
    WeekSchedule schedule{};
    InitConfig(&config, &schedule);
    bool configured = ReadConfig(&config, &schedule) == 1;
    r.source = !configured ? "" : config.comm_mode == 1 ? "snmp" : "serial";

    DaemonProbe daemon = ProbeDaemon(now);
    r.daemon_running = daemon.running;
    r.daemon_pid = daemon.pid;

    if (configured && config.comm_mode == 1) {
        // The daemon writes no status files in this mode: the agent is asked, as the status
        // screen does. Nothing the access layer says may mix with the report.
        const std::string agent = Field(config.agent_ip, sizeof config.agent_ip);
        UPS_report_to(nullptr);
        upsconf_load(agent, Field(config.community, sizeof config.community));
        // Without a daemon nothing would be shown: the agent's time-out is not worth waiting.
        if (r.daemon_running && UPS_init() == 1) ReportFromAgent(r, AgentRead);
        UPS_close();
        r.fresh = true;  // asked just now: only whether it answered counts
        if (r.reading) {
            r.updated_at = now;
            r.age_seconds = 0;
        }
        JudgeOnce(out, true, "the SNMP agent at " + agent);
        if (out.status == kOnceNoReading) {
            out.problem = "the SNMP agent at " + agent + " gives no reading";
        }
        return out;
    }

    Reply status = ReadReply(q1::kStatus);
    if (status.found) {
        r.updated_at = status.modified;
        r.age_seconds = now > status.modified ? now - status.modified : 0;
        r.fresh = *r.age_seconds <= kStaleSeconds;
        Reply model = ReadReply(q1::kModel);
        Reply rating = ReadReply(q1::kRating);
        ReportFromReplies(r, status.text, model.text, rating.text,
                          configured ? config.battery_rating : 0.0f);
    }
    JudgeOnce(out, status.found, kelvora::RootPath(q1::kStatus.file));
    return out;
}

int vornii_status_once(bool json) {
    OnceResult result = StatusOnce(static_cast<int64_t>(std::time(nullptr)));
    const StatusReport& r = result.report;
    std::string text = json ? ReportJson(r) : ReportText(r);
    std::fwrite(text.data(), 1, text.size(), stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        // A report that did not arrive (a full disk behind a redirection) must not look sent.
        std::fprintf(stderr, "kelvora: cannot write the status: %s\n", std::strerror(errno));
        return 1;
    }
    if (!result.problem.empty()) std::fprintf(stderr, "kelvora: %s\n", result.problem.c_str());
    return result.status;
}
