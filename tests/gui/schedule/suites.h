// The schedule and control dialogs' test classes, each run by main() in turn, and what they
// share: the fixed "now" and calendar times worked out apart from the code under test.
#pragma once

#include <QByteArray>
#include <QWidget>
#include <cstdint>
#include <ctime>

namespace kelvora::panel::test {

int RunScheduleTextTests(int argc, char** argv);
int RunScheduleDialogTests(int argc, char** argv);
int RunControlDialogTests(int argc, char** argv);

// Saves a picture of widget as <name>.png in $ARTIFACT_DIR when that is set, so a reviewer can
// look at what the offscreen run drew.
void SaveArtifact(QWidget& widget, const QString& name);

// Seconds since 1970 of a UTC wall-clock time (timegm, not the mktime the code uses).
inline std::int64_t Utc(int y, int mo, int d, int h = 0, int mi = 0) {
    std::tm t{};
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    return static_cast<std::int64_t>(timegm(&t));
}

// Friday 11 December 2026, 09:15 UTC: every test's "now".
inline const std::int64_t kNow = Utc(2026, 12, 11, 9, 15);

// Sets the process's time zone for one scope; the tests run in UTC otherwise.
class ScopedZone {
  public:
    explicit ScopedZone(const char* zone) {
        qputenv("TZ", zone);
        tzset();
    }
    ~ScopedZone() {
        qputenv("TZ", "UTC");
        tzset();
    }
    ScopedZone(const ScopedZone&) = delete;
    ScopedZone& operator=(const ScopedZone&) = delete;
};

// Central European time by its rule, so the tests need no time-zone files: summer time from
// the last Sunday of March 02:00 to the last Sunday of October 03:00.
inline constexpr const char* kCentralEurope = "CET-1CEST,M3.5.0,M10.5.0/3";

}  // namespace kelvora::panel::test
