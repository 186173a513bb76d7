#include "event_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <ctime>

#include "file_util.h"
#include "paths.h"

bool CheckLogFile() {
    return OpenLogFile() != nullptr;
}

LogFile OpenLogFile() {
    return kelvora::OpenRegularStream(kelvora::RootPath("vornlog"), O_WRONLY | O_APPEND | O_CREAT,
                                      "a");
}

std::string TimeText(int64_t when) {
    time_t t = static_cast<time_t>(when);
    char buf[64];  // ctime_r needs 26; a year past 9999 needs more or fails
    struct tm local {};
    if (localtime_r(&t, &local) == nullptr || asctime_r(&local, buf) == nullptr) return "?\n";
    return buf;
}

std::string LogLine(std::string_view message, int64_t when) {
    std::string line(message);
    line += " - ";
    line += TimeText(when);
    return line;
}
