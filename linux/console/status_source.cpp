#include "status_source.h"

#include <cstdio>

#include "file_util.h"
#include "paths.h"
#include "text_util.h"

namespace {

int ReadReply(std::string_view name, std::size_t limit, std::string& line) {
    if (!kelvora::ReadFilePrefix(kelvora::RootPath(name), limit, line) || line.empty()) {
        line.clear();
        return -1;
    }
    line.pop_back();
    return 1;
}

// "debug" as the first word of status.dbg echoes every status line on standard output.
bool StatusDebugOn() {
    std::string word;
    if (!kelvora::ReadFilePrefix(kelvora::RootPath("status.dbg"), 16, word)) return false;
    return word.substr(0, word.find_first_of(" \t\r\n")) == "debug";
}

}  // namespace

int GetQ1fromTextFile(std::string& line) {
    if (ReadReply("kelvora.q1", 48, line) < 0) return -1;
    if (StatusDebugOn()) {
        std::printf("<STATUS DEBUG> %s\n", Printable(line).c_str());
        std::fflush(stdout);
    }
    return 1;
}

int GetModelfromTextFile(std::string& line) {
    return ReadReply("kelvora.mdl", 39, line);
}

int GetRatingfromTextFile(std::string& line) {
    return ReadReply("kelvora.rtg", 22, line);
}

void GetData(ScreenData& data, int& failures) {
    InitScreenData(data);
    std::string line;
    if (GetQ1fromTextFile(line) < 0) {
        ++failures;
        return;
    }
    GetFromQ1(data, line);
    failures = 0;
    if (GetModelfromTextFile(line) > 0) GetFromI(data, line);
    if (GetRatingfromTextFile(line) > 0) GetFromF(data, line);
}
