// vorn.ini: the 120-byte configuration image followed by seven 16-byte schedule entries.
// Offsets are the file format, so the record is written field by field, never as a struct.
#include <bit>
#include <cstring>

#include "config.h"

namespace {

class Writer {
public:
    explicit Writer(std::span<uint8_t> out) : out_(out) {}
    void U16(uint16_t v) { Bytes({uint8_t(v), uint8_t(v >> 8)}); }
    void U32(uint32_t v) { Bytes({uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}); }
    void I16(int16_t v) { U16(static_cast<uint16_t>(v)); }
    void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
    void F32(float v) { U32(std::bit_cast<uint32_t>(v)); }
    void Text(const char (&field)[30]) {
        // Zero-fill behind the NUL so that no stale memory reaches the file.
        std::size_t n = strnlen(field, kConfigTextMax);
        std::memcpy(out_.data() + pos_, field, n);
        std::memset(out_.data() + pos_ + n, 0, 30 - n);
        pos_ += 30;
    }
    void Zero(std::size_t n) {
        std::memset(out_.data() + pos_, 0, n);
        pos_ += n;
    }

private:
    void Bytes(std::initializer_list<uint8_t> b) {
        for (uint8_t x : b) out_[pos_++] = x;
    }
    std::span<uint8_t> out_;
    std::size_t pos_ = 0;
};

// Reads fields in order; once the input runs out every further read leaves its field alone.
class Reader {
public:
    explicit Reader(std::span<const uint8_t> in) : in_(in) {}
    void I16(int16_t& v) {
        if (Have(2)) v = static_cast<int16_t>(in_[pos_] | in_[pos_ + 1] << 8);
        pos_ += 2;
    }
    void I32(int32_t& v) {
        if (Have(4)) v = static_cast<int32_t>(U32At(pos_));
        pos_ += 4;
    }
    void F32(float& v) {
        if (Have(4)) v = std::bit_cast<float>(U32At(pos_));
        pos_ += 4;
    }
    void Text(char (&field)[30]) {
        if (Have(30)) {
            // The stored field may lack its NUL; never let it run into the next field.
            std::memcpy(field, in_.data() + pos_, 30);
            field[kConfigTextMax] = '\0';
        }
        pos_ += 30;
    }
    void Skip(std::size_t n) { pos_ += n; }
    void Seek(std::size_t at) { pos_ = at; }

private:
    bool Have(std::size_t n) const { return pos_ + n <= in_.size(); }
    uint32_t U32At(std::size_t p) const {
        return uint32_t(in_[p]) | uint32_t(in_[p + 1]) << 8 | uint32_t(in_[p + 2]) << 16 |
               uint32_t(in_[p + 3]) << 24;
    }
    std::span<const uint8_t> in_;
    std::size_t pos_ = 0;
};

}  // namespace

std::array<uint8_t, kIniFileSize> EncodeIni(const UpsConfig& c, const WeekSchedule& s) {
    std::array<uint8_t, kIniFileSize> out{};
    Writer w(out);
    w.I16(c.acfail_delay);
    w.I16(c.battlow_delay);
    w.F32(c.turnoff_delay);
    w.F32(c.battery_rating);
    w.Text(c.comport);
    w.Text(c.agent_ip);
    w.Text(c.community);
    w.I16(c.schedule_on);
    w.I16(c.countdown_on);
    w.Zero(2);  // alignment padding of the original record
    w.I32(c.comm_mode);
    w.I32(c.turnoff_ups);
    w.I32(0);  // reserved
    for (const ScheduleDay& d : s.day) {
        w.I32(d.restart_hour);
        w.I32(d.restart_minute);
        w.I32(d.shutdown_hour);
        w.I32(d.shutdown_minute);
    }
    return out;
}

void DecodeIni(std::span<const uint8_t> bytes, UpsConfig& c, WeekSchedule& s) {
    Reader r(bytes);
    r.I16(c.acfail_delay);
    r.I16(c.battlow_delay);
    r.F32(c.turnoff_delay);
    r.F32(c.battery_rating);
    r.Text(c.comport);
    r.Text(c.agent_ip);
    r.Text(c.community);
    r.I16(c.schedule_on);
    r.I16(c.countdown_on);
    r.Skip(2);
    r.I32(c.comm_mode);
    r.I32(c.turnoff_ups);
    r.I32(c.reserved);
    r.Seek(kConfigImageSize);
    for (ScheduleDay& d : s.day) {
        r.I32(d.restart_hour);
        r.I32(d.restart_minute);
        r.I32(d.shutdown_hour);
        r.I32(d.shutdown_minute);
    }
}
