// The parts of the agent access that need no agent: the status reply made from two readings,
// the shutdown delay, how values become text, and the rule that a loopback address is no agent.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <set>
#include <string>

#include "q1_protocol.h"
#include "snmp_access.h"
#include "snmp_objects.h"
#include "snmp_ups.h"
#include "snmp_value.h"

namespace {

// A variable as the library hands one over in a response.
class Var {
  public:
    Var(u_char type, const void* value, std::size_t length) {
        snmp_set_var_typed_value(&var_, type, value, length);
    }
    ~Var() { snmp_free_var_internals(&var_); }
    Var(const Var&) = delete;
    Var& operator=(const Var&) = delete;
    const netsnmp_variable_list& get() const { return var_; }

  private:
    netsnmp_variable_list var_{};
};

std::string Printed(u_char type, long value, snmp::Kind kind = snmp::Kind::kNumber) {
    Var v(type, &value, sizeof value);
    std::string out = "unchanged";
    return snmp::PrintValue(v.get(), kind, out) ? out : "refused";
}

std::string PrintedText(std::string_view text, snmp::Kind kind = snmp::Kind::kText) {
    Var v(ASN_OCTET_STR, text.data(), text.size());
    std::string out;
    return snmp::PrintValue(v.get(), kind, out) ? out : "refused";
}

}  // namespace

TEST(SnmpStatus, PseudoReplyCarriesOnlyTheTwoBits) {
    std::string normal = SnmpPseudoReply("2300", std::string("2"));
    ASSERT_EQ(normal.size(), 47u);
    EXPECT_EQ(normal[q1::kUtilityFailBit], '0');
    EXPECT_EQ(normal[q1::kBatteryLowBit], '0');
    std::string rest = normal;
    rest[q1::kUtilityFailBit] = rest[q1::kBatteryLowBit] = ' ';
    EXPECT_EQ(rest, std::string(47, ' '));

    std::string failing = SnmpPseudoReply("0", std::string("3"));
    EXPECT_EQ(failing[q1::kUtilityFailBit], '1');
    EXPECT_EQ(failing[q1::kBatteryLowBit], '1');

    // Any line voltage at all means utility power; only status 3 is a low battery.
    EXPECT_EQ(SnmpPseudoReply("1", std::string("1"))[q1::kUtilityFailBit], '0');
    EXPECT_EQ(SnmpPseudoReply("1", std::string("1"))[q1::kBatteryLowBit], '0');
    EXPECT_EQ(SnmpPseudoReply("-5", std::string("30"))[q1::kBatteryLowBit], '0');
}

TEST(SnmpStatus, UnreadBatteryStatusIsNeitherLowNorNormal) {
    // A line voltage of 3 (0.3 V) must not pass for battery status 3 when the second read
    // fails, and a failed read is no evidence that the battery recovered either.
    std::string reply = SnmpPseudoReply("3", std::nullopt);
    EXPECT_EQ(reply[q1::kUtilityFailBit], '0');
    EXPECT_EQ(reply[q1::kBatteryLowBit], ' ');
}

TEST(SnmpStatus, NoSessionMeansNoReply) {
    UPS_close();
    std::string reply = "kept";
    EXPECT_EQ(S_GetStatus(reply), -1);
    EXPECT_EQ(reply, "kept");
}

TEST(SnmpShutdown, DelayInWholeSeconds) {
    EXPECT_EQ(ShutdownDelaySeconds(0.2f), 12);
    EXPECT_EQ(ShutdownDelaySeconds(3.0f), 180);
    EXPECT_EQ(ShutdownDelaySeconds(0.25f), 15);
    // 0.7 and 1.1 are just below themselves as floats; a plain truncation loses a second.
    EXPECT_EQ(ShutdownDelaySeconds(0.7f), 42);
    EXPECT_EQ(ShutdownDelaySeconds(1.1f), 66);
    EXPECT_EQ(ShutdownDelaySeconds(0.0f), 0);
    EXPECT_EQ(ShutdownDelaySeconds(-2.0f), 0);
    EXPECT_EQ(ShutdownDelaySeconds(std::nanf("")), 0);
    EXPECT_GT(ShutdownDelaySeconds(1e30f), 0);
}

TEST(SnmpValue, NumbersAsPlainDigits) {
    EXPECT_EQ(Printed(ASN_INTEGER, 2300), "2300");
    EXPECT_EQ(Printed(ASN_INTEGER, -12), "-12");
    EXPECT_EQ(Printed(ASN_GAUGE, 4294967295L), "4294967295");
    EXPECT_EQ(Printed(ASN_TIMETICKS, 360000), "360000");
    EXPECT_EQ(Printed(ASN_COUNTER, 7, snmp::Kind::kText), "7");  // text rows take numbers
}

TEST(SnmpValue, StringsInQuotesCutAndCleaned) {
    EXPECT_EQ(PrintedText("SIM-1000"), "\"SIM-1000\"");
    EXPECT_EQ(PrintedText(""), "\"\"");
    // No terminal escape or line break from the agent reaches a screen.
    EXPECT_EQ(PrintedText("a\x1b[2Jb\n\xff"), "\"a.[2Jb..\"");
    std::string huge(2000, 'x');
    std::string out = PrintedText(huge);
    ASSERT_EQ(out.size(), snmp::kValueMax);
    EXPECT_EQ(out.front(), '"');
    EXPECT_EQ(out.back(), '"');
}

TEST(SnmpValue, WrongTypesAreRefused) {
    // Text where a number belongs would read as 0: an AC failure that never happened.
    EXPECT_EQ(PrintedText("2300", snmp::Kind::kNumber), "refused");
    EXPECT_EQ(PrintedText("", snmp::Kind::kNumber), "refused");
    Var null_value(ASN_NULL, nullptr, 0);
    std::string out = "unchanged";
    EXPECT_FALSE(snmp::PrintValue(null_value.get(), snmp::Kind::kNumber, out));
    EXPECT_FALSE(snmp::PrintValue(null_value.get(), snmp::Kind::kText, out));
    Var missing(SNMP_NOSUCHOBJECT, nullptr, 0);
    EXPECT_FALSE(snmp::PrintValue(missing.get(), snmp::Kind::kNumber, out));
    EXPECT_EQ(out, "unchanged");
    oid some[] = {1, 3, 6, 1};
    Var object_id(ASN_OBJECT_ID, some, sizeof some);
    EXPECT_FALSE(snmp::PrintValue(object_id.get(), snmp::Kind::kText, out));
}

TEST(SnmpObjects, EveryIdentifierOnceAndScalar) {
    std::set<std::string_view> seen;
    for (const snmp::Object& o : snmp::kObjects) {
        EXPECT_TRUE(seen.insert(o.oid).second) << o.oid;
        EXPECT_TRUE(o.oid.ends_with(".0")) << o.oid;
        EXPECT_TRUE(o.oid.starts_with(".1.3.6.1.4.1.935.1.1.1.") ||
                    o.oid.starts_with(".1.3.6.1.2.1.1."))
            << o.oid;
        EXPECT_EQ(snmp::Find(o.oid), &o);
    }
    EXPECT_EQ(snmp::Find(".1.3.6.1.2.1.1.3.0"), nullptr);
}

// The loopback rule: with an address beginning with "127" nothing is ever sent, whoever listens.
TEST(SnmpAccess, LoopbackAddressIsNoAgent) {
    int sock = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(sock, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    socklen_t len = sizeof addr;
    ASSERT_EQ(::getsockname(sock, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    const std::string peer = "127.0.0.1:" + std::to_string(ntohs(addr.sin_port));

    UPS_report_to(nullptr);
    upsconf_load(peer, "gazers");
    EXPECT_EQ(UPS_init(), -1);
    EXPECT_FALSE(UPS_is_open());
    ASSERT_EQ(UPS_open(), 1);  // a session opens: the rule is about asking, not about sockets
    std::string out = "***";
    EXPECT_EQ(UPS_getvalue(out, snmp::Oid(snmp::kLineVoltage)), -1);
    EXPECT_EQ(out, "***");
    int result = 9;
    EXPECT_EQ(UPS_setvalue(snmp::Oid(snmp::kTurnOff), 2, result), 0);
    EXPECT_EQ(result, 0);
    UPS_close();

    pollfd p{sock, POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 200), 0) << "a request went out to " << peer;
    ::close(sock);
}
