#include "status_source.h"

#include <cstdio>

#include "file_util.h"
#include "paths.h"
#include "q1_protocol.h"
#include "text_util.h"

namespace {

// The file's fixed width is read and its last character dropped.
int ReadReply(const q1::Query& query, std::string& line) {
    if (!kelvora::ReadFilePrefix(kelvora::RootPath(query.file), query.file_width, line) ||
        line.empty()) {
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
    if (ReadReply(q1::kStatus, line) < 0) return -1;
    if (StatusDebugOn()) {
        std::printf("<STATUS DEBUG> %s\n", Printable(line).c_str());
        std::fflush(stdout);
    }
    return 1;
}

int GetModelfromTextFile(std::string& line) {
    return ReadReply(q1::kModel, line);
}

int GetRatingfromTextFile(std::string& line) {
    return ReadReply(q1::kRating, line);
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
