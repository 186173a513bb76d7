// Reading and writing vorn.ini and kelvora.cfg under the root directory.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "config.h"
#include "file_util.h"
#include "paths.h"

void InitConfig(UpsConfig* c, WeekSchedule* s) {
    c->acfail_delay = 5;
    c->battlow_delay = 1;
    c->turnoff_delay = 3.0f;
    c->battery_rating = 0.0f;
    SetConfigText(c->comport, "/dev/ttyS1");
    SetConfigText(c->agent_ip, "127.0.0.1");
    SetConfigText(c->community, "gazers");
    c->schedule_on = 0;
    c->countdown_on = 1;
    c->comm_mode = 0;
    c->turnoff_ups = 1;
    c->reserved = 0;
    for (ScheduleDay& d : s->day) d = ScheduleDay{-1, -1, -1, -1};
}

int ReadConfig(UpsConfig* c, WeekSchedule* s) {
    // Only the first 232 bytes matter; a shorter file leaves the fields it lacks alone.
    std::string image;
    if (!kelvora::ReadFilePrefix(kelvora::RootPath("vorn.ini"), kIniFileSize, image)) return 0;
    DecodeIni({reinterpret_cast<const uint8_t*>(image.data()), image.size()}, *c, *s);

    return ApplyCfgFile(c);
}

int ApplyCfgFile(UpsConfig* c) {
    // The text file is meant to be small; anything past 64 KiB cannot be a hand-edited
    // configuration and is not read, so a huge file cannot make us allocate without bound.
    std::string text;
    if (!kelvora::ReadFilePrefix(kelvora::RootPath("kelvora.cfg"), 64 * 1024, text)) return 0;
    ApplyCfgText(text, *c);
    return 1;
}

int WriteConfig(const UpsConfig* c, const WeekSchedule* s) {
    // Both files are written out before either is replaced (temporary files, then renames), so
    // a crash or a full disk never leaves a torn file, nor a new vorn.ini beside an old
    // kelvora.cfg that would undo it at the next read.
    auto image = EncodeIni(*c, *s);
    std::string text = FormatCfgText(*c);
    return kelvora::ReplaceFiles({{kelvora::RootPath("vorn.ini"),
                                   {reinterpret_cast<const char*>(image.data()), image.size()}},
                                  {kelvora::RootPath("kelvora.cfg"), text}})
               ? 1
               : 0;
}
