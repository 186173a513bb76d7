// The watchers' settings from the environment: a slip must never silence a watcher or send
// private mail in the clear.
#include <gtest/gtest.h>

#include <cstdlib>

#include "watch/watch_settings.h"

namespace torvane::watch {
namespace {

class WatchSettingsTest : public ::testing::Test {
  protected:
    void SetUp() override { Clear(); }
    void TearDown() override { Clear(); }
    static void Clear() {
        for (const char* name : {"TORVANE_NUT_LISTEN", "TORVANE_NUT_PORT", "TORVANE_NUT_USER",
                                 "TORVANE_NUT_PASSWORD", "TORVANE_HTTP_LISTEN", "TORVANE_HTTP_PORT",
                                 "TORVANE_WEBHOOKS", "TORVANE_SMTP_TLS", "TORVANE_SMTP_USER",
                                 "TORVANE_SMTP_PASSWORD", "TORVANE_SMTP_VERIFY", "TORVANE_SMTP_CA"})
            unsetenv(name);
    }
    std::vector<std::string> problems;
};

TEST_F(WatchSettingsTest, DefaultsListenOnLoopbackOnly) {
    WatchSettings s = WatchSettingsFromEnvironment(problems);
    EXPECT_TRUE(problems.empty());
    EXPECT_TRUE(s.nut.enabled);
    EXPECT_EQ(s.nut.address, "127.0.0.1");
    EXPECT_EQ(s.nut.port, 3493);
    EXPECT_EQ(s.http.address, "127.0.0.1");
    EXPECT_EQ(s.http.port, WatchSettings::kHttpPort);
    EXPECT_TRUE(s.nutPassword.empty());
    EXPECT_TRUE(s.webhooks.empty());
    EXPECT_TRUE(s.mail.Plain());
}

TEST_F(WatchSettingsTest, PortsCanBeMovedOrTurnedOffAndBadOnesKeepTheDefault) {
    setenv("TORVANE_NUT_PORT", "off", 1);
    setenv("TORVANE_HTTP_LISTEN", "0.0.0.0", 1);
    setenv("TORVANE_HTTP_PORT", "70000", 1);
    WatchSettings s = WatchSettingsFromEnvironment(problems);
    EXPECT_FALSE(s.nut.enabled);
    EXPECT_TRUE(s.http.enabled);
    EXPECT_EQ(s.http.address, "0.0.0.0");
    EXPECT_EQ(s.http.port, WatchSettings::kHttpPort);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("TORVANE_HTTP_PORT=70000"), std::string::npos);
    setenv("TORVANE_HTTP_PORT", "9100x", 1);
    problems.clear();
    EXPECT_EQ(WatchSettingsFromEnvironment(problems).http.port, WatchSettings::kHttpPort);
    EXPECT_EQ(problems.size(), 1u);
}

TEST_F(WatchSettingsTest, WebhooksAreUrlsSeparatedByBlanksOrCommas) {
    setenv("TORVANE_WEBHOOKS", " https://ntfy.example/ups,http://10.0.0.5:8080/hook  ftp://x/ ", 1);
    WatchSettings s = WatchSettingsFromEnvironment(problems);
    EXPECT_EQ(s.webhooks,
              (std::vector<std::string>{"https://ntfy.example/ups", "http://10.0.0.5:8080/hook"}));
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("ftp://x/"), std::string::npos);
}

TEST_F(WatchSettingsTest, MailSecurity) {
    setenv("TORVANE_SMTP_TLS", "tls", 1);
    EXPECT_EQ(WatchSettingsFromEnvironment(problems).mail.tls, MailSecurity::Tls::kImplicit);
    unsetenv("TORVANE_SMTP_TLS");
    setenv("TORVANE_SMTP_USER", "ups@example.org", 1);
    WatchSettings s = WatchSettingsFromEnvironment(problems);
    // A login is not sent in the clear unless that is asked for by name.
    EXPECT_EQ(s.mail.tls, MailSecurity::Tls::kStartTls);
    setenv("TORVANE_SMTP_TLS", "none", 1);
    s = WatchSettingsFromEnvironment(problems);
    EXPECT_EQ(s.mail.tls, MailSecurity::Tls::kNone);
    EXPECT_FALSE(s.mail.Plain());  // AUTH without TLS is still not the plain conversation
    EXPECT_TRUE(s.mail.verifyPeer);
    // A misspelt wish for privacy asks for more of it, not less.
    setenv("TORVANE_SMTP_TLS", "STARTTLS", 1);
    setenv("TORVANE_SMTP_VERIFY", "0", 1);
    s = WatchSettingsFromEnvironment(problems);
    EXPECT_EQ(s.mail.tls, MailSecurity::Tls::kStartTls);
    EXPECT_FALSE(s.mail.verifyPeer);
    EXPECT_EQ(problems.size(), 1u);
}

}  // namespace
}  // namespace torvane::watch
