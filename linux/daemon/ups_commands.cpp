#include "ups_commands.h"

#include <cstdio>

#include "serial_port.h"
#include "status_files.h"

namespace {

int QueryInto(int fd, const q1::Query& query, std::string& reply) {
    int r = GetUPSResponse(fd, query.command, reply);
    if (r != 1 || reply.empty() || reply[0] != query.lead) {
        // A reply to the wrong question (a model line for a status query, say) is no reply.
        reply.clear();
        return r == kLinkLost ? kLinkLost : -1;
    }
    return 1;
}

}  // namespace

std::string ShDnCmd(float delay, int restart, int with_restart) {
    char out[16];
    // 0.2 stored in single precision is 0.19999..; the nudge makes it give the digit 2.
    double d = static_cast<double>(delay) + 0.01;
    if (!(d >= 0.0)) d = 0.0;  // negative or NaN from a damaged file: switch off soonest
    std::string cmd = "S";
    if (d < 1.0) {
        std::snprintf(out, sizeof out, ".%d", static_cast<int>(d * 10) % 10);
        cmd += out;
    } else {
        int whole = d < 99.0 ? static_cast<int>(d) : 99;
        std::snprintf(out, sizeof out, "%02d", whole);
        cmd.append(out, 2);
    }
    if (with_restart != 0 && restart != -1) {
        int minutes = restart < 0 ? 0 : restart > 9999 ? 9999 : restart;
        std::snprintf(out, sizeof out, "R%04d", minutes);
        cmd += out;
    }
    cmd += '\r';
    return cmd;
}

std::string TestCmd(int minutes) {
    if (minutes == 0) return std::string(q1::kTestUntilLow);
    if (minutes < 1 || minutes > 99) return {};
    char out[8];
    std::snprintf(out, sizeof out, "T%02d\r", minutes);
    return out;
}

int A_GetUPSStatus(int fd, std::string& reply) {
    if (int r = QueryInto(fd, q1::kStatus, reply); r != 1) return r;
    // The daemon reads the status bits by position; a line of another width would put other
    // characters there, so it is not a status reply.
    if (reply.size() != q1::kStatus.width) {
        reply.clear();
        return -1;
    }
    return 1;
}

int A_GetUPSModel(int fd, std::string& reply) {
    int r = QueryInto(fd, q1::kModel, reply);
    WriteInfoFile(q1::kModel.file, reply);
    return r;
}

int A_GetUPSRating(int fd, std::string& reply) {
    int r = QueryInto(fd, q1::kRating, reply);
    WriteInfoFile(q1::kRating.file, reply);
    return r;
}

int A_UPSSelfTest(int fd) {
    return SendUPSCommand(fd, q1::kTenSecondTest);
}

int A_UPSTest(int fd, int minutes) {
    std::string cmd = TestCmd(minutes);
    return cmd.empty() ? -1 : SendUPSCommand(fd, cmd);
}

int A_CancelUPSTest(int fd) {
    return SendUPSCommand(fd, q1::kCancelTest);
}

int A_CancelShutdown(int fd) {
    return SendUPSCommand(fd, q1::kCancelShutdown);
}

int A_ShutdownUPS(int fd, float delay, int restart, int with_restart) {
    return SendUPSCommand(fd, ShDnCmd(delay, restart, with_restart));
}
