#include "sec_dialect.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <thread>

namespace torvane {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr milliseconds kReplyWait{500};
constexpr milliseconds kRestoreGap{10};
constexpr long long kGiveUpWholeSeconds = 3;
constexpr std::size_t kMinimumReply = 3;
constexpr std::size_t kMaxFieldChars = 7;
constexpr std::size_t kSourceColumn = kSecHeaderBytes;  // a one-character first field

class RealClock final : public SecClock {
  public:
    void Wait(milliseconds ms) override { std::this_thread::sleep_for(ms); }
    std::chrono::steady_clock::time_point Now() override {
        return std::chrono::steady_clock::now();
    }
};

bool PastGiveUp(SecClock& clock, std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<seconds>(clock.Now() - start).count() > kGiveUpWholeSeconds;
}

int ReadReply(const SecLine& line, std::string& reply, std::size_t max) {
    std::array<char, kSecReplyBytes> buffer{};
    const int n = line.link.Read(buffer.data(), static_cast<int>(std::min(max, buffer.size())));
    const std::size_t got = std::clamp<int>(n, 0, static_cast<int>(max));
    reply.assign(buffer.data(), got);
    return static_cast<int>(got);
}

// A printf result that has already been clamped to fit its columns.
std::string Format(const char* format, double value) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// Q1 columns cannot show a sign or a wider number; a reading outside them is shown at the
// nearest edge rather than shifting every column after it.
std::string Volts(double v) {
    return Format("%05.1f", std::clamp(v, 0.0, 999.9));
}
std::string Load(double percent) {
    return Format("%03.0f", std::clamp(percent, 0.0, 999.0));
}
std::string Hertz(double hz) {
    return Format("%04.1f", std::clamp(hz, 0.0, 99.9));
}
std::string BatteryVolts(int raw) {
    const double v = std::clamp(raw < 1000 ? raw * 0.1 : raw * 0.01, 0.0, 99.9);
    return Format(v >= 10 ? "%.1f" : "%.2f", v);
}
std::string Degrees(int whole) {
    return Format("%04.1f", static_cast<double>(std::clamp(whole, 0, 99)));
}
char Bit(bool on) {
    return on ? '1' : '0';
}

// The data of a reply (after "^D" and the length) as far as it is text.
std::string DataText(std::string_view reply) {
    const int length = SecDataLength(reply);
    std::string_view data = reply.substr(std::min(kSecHeaderBytes, reply.size()), length);
    const auto stop = std::find_if(data.begin(), data.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x20; });
    return std::string(data.begin(), stop);
}

std::string Padded(std::string text, std::size_t width) {
    text.resize(width, ' ');
    return text;
}

char ColumnFive(std::string_view reply) {
    return SecDataLength(reply) > 0 ? reply[kSourceColumn] : '\0';
}

int Field(int index, std::string_view reply) {
    return GetField(index, SecDataLength(reply), reply);
}

// "^P003NOM" answers with the nominal input voltage first; it stands in for Q1's fault
// voltage. Only its first few characters count, up to a comma.
int NominalVolts(std::string_view reply) {
    constexpr std::size_t kLastColumn = 9;
    const std::size_t end =
        std::min(kSecHeaderBytes + SecDataLength(reply), std::min(reply.size(), kLastColumn + 1));
    int value = 0;
    for (std::size_t i = kSecHeaderBytes; i < end && reply[i] >= '0' && reply[i] <= '9'; ++i)
        value = value * 10 + (reply[i] - '0');
    return value;
}

// One step of the poll: a reply that is not "^D" and a length (a reply the transaction let
// through on its second character alone) ends the sequence, like no reply at all, rather than
// passing its missing fields on as zero readings.
bool Step(const SecLine& line, const char* query, std::string& reply) {
    if (Transact(line, query, reply) < 0) return false;
    return IsSecDataReply(reply);
}

}  // namespace

bool IsSecDataReply(std::string_view reply) {
    return reply.size() >= kSecHeaderBytes && reply[0] == '^' && reply[1] == 'D' &&
           std::all_of(reply.begin() + 2, reply.begin() + kSecHeaderBytes,
                       [](char c) { return c >= '0' && c <= '9'; });
}

std::string SecSettingText(std::string_view body) {
    if (body.size() > 999) return {};
    char length[4];
    std::snprintf(length, sizeof length, "%03zu", body.size());
    return std::string("^S") + length + std::string(body);
}

std::string SecShutdownText(int delaySeconds) {
    return SecSettingText("PSD" + std::to_string(delaySeconds));
}

std::string SecRestoreText(int delaySeconds) {
    return SecSettingText("RWD" + std::to_string(delaySeconds));
}

std::optional<std::string> SecTestText(int minutes) {
    if (minutes == -1) return std::string("^S004TST3");
    if (minutes == 0) return std::string("^S004TST2");
    if (minutes >= 1 && minutes <= 99) return std::string("^S004TST1");
    return std::nullopt;
}

SecClock& SteadySecClock() {
    static RealClock clock;
    return clock;
}

void SecLine::Send(const char* text) const {
    if (send) {
        send(text);
        return;
    }
    link.SetWriteSignal(1);
    link.Write(text);
}

int Transact(const SecLine& line, const char* query, std::string& reply) {
    reply.clear();
    line.Purge(kPurgeTransmit | kPurgeReceive);
    line.Send(query);
    line.clock.Wait(kReplyWait);
    const auto start = line.clock.Now();
    if (line.Stopping()) return -1;
    for (;;) {
        const int n = ReadReply(line, reply, kSecReplyBytes);
        if (static_cast<std::size_t>(n) >= kMinimumReply) {
            line.Purge(kPurgeTransmit | kPurgeReceive);
            if (reply[0] == '^' || reply[1] == 'D') return n;
            reply.clear();
            // A line that keeps chattering must not hold the UPS thread past the give-up time.
            if (PastGiveUp(line.clock, start) || line.Stopping()) return -1;
            continue;
        }
        line.Purge(kPurgeTransmit | kPurgeReceive);
        line.Send(query);
        line.clock.Wait(kReplyWait);
        if (PastGiveUp(line.clock, start) || line.Stopping()) return -1;
    }
}

int SecDataLength(std::string_view reply) {
    if (!IsSecDataReply(reply)) return 0;
    int claimed = 0;
    for (std::size_t i = 2; i < kSecHeaderBytes; ++i) claimed = claimed * 10 + (reply[i] - '0');
    return std::min<int>(claimed, static_cast<int>(reply.size() - kSecHeaderBytes));
}

int GetField(int index, int count, std::string_view reply) {
    if (index < 1 || count < 0) return 0;
    const std::size_t searched = std::min(reply.size(), static_cast<std::size_t>(count) + 6);
    const std::size_t fieldEnd = std::min(reply.size(), static_cast<std::size_t>(count) + 5);
    std::size_t comma = std::string_view::npos;
    for (std::size_t i = 0, seen = 0; i < searched; ++i) {
        if (reply[i] == ',' && ++seen == static_cast<std::size_t>(index)) {
            comma = i;
            break;
        }
    }
    if (comma == std::string_view::npos || comma + 1 >= fieldEnd) return 0;
    std::string_view field = reply.substr(comma + 1, fieldEnd - comma - 1);
    field = field.substr(0, field.find(','));
    if (field.empty() || field.size() > kMaxFieldChars) return 0;

    bool negative = false;
    std::size_t i = 0;
    if (field[0] == '-' || field[0] == '+') negative = field[i++] == '-';
    int value = 0;
    for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i)
        value = value * 10 + (field[i] - '0');  // seven characters cannot overflow an int
    return negative ? -value : value;
}

bool SendSecSettingAcknowledged(const SecLine& line, const std::string& text) {
    constexpr std::size_t kAckBytes = 4;
    const auto start = line.clock.Now();
    std::string reply;
    for (;;) {
        line.Send(text.c_str());
        line.clock.Wait(kReplyWait);
        ReadReply(line, reply, kAckBytes);
        if (reply.starts_with("^1")) return true;
        if (PastGiveUp(line.clock, start)) return false;
    }
}

void SendSecShutdown(const SecLine& line, const std::string& restoreText,
                     const std::string& shutdownText) {
    line.Send(kSecAutoRestartOn);
    line.clock.Wait(kReplyWait);
    line.Send(kSecShutdownType);
    line.clock.Wait(kReplyWait);
    if (!restoreText.empty()) {
        line.Send(restoreText.c_str());
        line.clock.Wait(kRestoreGap);
    }
    line.Send(shutdownText.c_str());
}

// The status line is built in Q1 columns, one SEC query at a time:
//
//   (230.0 230.0 230.0 021 50.0 27.0 25.0 00000001\r
//   0         1         2         3         4
//   01234567890123456789012345678901234567890123456
//   (input fault outpt lod freq batt temp UBKFYTSE
//
// > [^P003ST2]  < [^D0120,1,500,2300]        field 2 frequency, 3 input volts (tenths)
// > [^P003NOM]  < [^D026230,50,230,50,1000,800,5,2]  columns 5-9 nominal volts (fault),
//                                            field 7 the audible alarm (2 or 4: beeper on)
// > [^P003ST3]  < [^D0160,500,1,2300,210]    column 5 output source, field 3 output volts,
//                                            field 4 load (tenths of a percent)
// > [^P003ST1]  < [^D0230,0,0,0,45,1000,270,0,25]  field 1 battery condition (1 low,
//                                            2 depleted), 5 capacity (tenths), 6 battery
//                                            volts (tenths below 1000, else hundredths),
//                                            8 temperature (whole degrees)
// > [^P003ST5]  < [^D0150,0,0,0,0,0,0,0]     field 1 on battery, field 6 shutdown pending
// > [^P003STR]  < [^D0010]                   column 5: 2 while a test runs
// > [^P003MAN]  < [^D007Stavlen]             company, model and version: the "I" line
SecPollResult RunSecPoll(const SecLine& line) {
    SecPollResult out;
    std::string reply;
    std::string& s = out.statusLine;

    if (!Step(line, "^P003ST2", reply)) return out;
    out.st2Reply = reply;
    s += '(' + Volts(Field(3, reply) * 0.1) + ' ';

    if (!Step(line, "^P003NOM", reply)) return out;
    s += Volts(NominalVolts(reply)) + ' ';

    if (!Step(line, "^P003ST3", reply)) return out;
    const char source = ColumnFive(reply);
    s += Volts(Field(3, reply) * 0.1) + ' ' + Load(Field(4, reply) * 0.1) + ' ';

    s += Hertz(Field(2, out.st2Reply) * 0.1) + ' ';

    if (!Step(line, "^P003ST1", reply)) return out;
    const int condition = Field(1, reply);
    out.capacity = Field(5, reply);
    s += BatteryVolts(Field(6, reply)) + ' ' + Degrees(Field(8, reply)) + ' ';

    if (!Step(line, "^P003ST5", reply)) return out;
    s += Bit(Field(1, reply) != 0);
    s += Bit(condition != 0);
    s += Bit(source == '2' || source == '3' || source == '4');
    if (source == '4') out.notifications.push_back(15);
    if (source == '3') out.notifications.push_back(16);
    s += Bit(condition == 2);
    s += '0';  // SEC units are on-line units

    if (!Step(line, "^P003STR", reply)) return out;
    s += Bit(ColumnFive(reply) == '2');

    if (!Step(line, "^P003ST5", reply)) return out;
    s += Bit(Field(6, reply) != 0);

    if (!Step(line, "^P003NOM", reply)) return out;
    out.beeper = Field(7, reply);
    s += Bit(*out.beeper == 2 || *out.beeper == 4);
    s += '\r';

    if (!Step(line, "^P003MAN", reply)) return out;
    out.infoLine = '#' + Padded(DataText(reply), 15) + ' ';
    if (!Step(line, "^P003MOD", reply)) return out;
    out.infoLine += Padded(DataText(reply), 10) + ' ';
    if (!Step(line, "^P003VER", reply)) return out;
    out.infoLine += Padded(DataText(reply), 10) + '\r';
    out.complete = true;
    return out;
}

}  // namespace torvane
