#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "console_msg.h"
#include "temp_root.h"

namespace {
const char* kNoResponse = "UPS Adapter No Response!!, type [kelvora stop] to stop this process";
}

TEST(ConsoleThrottle, FirstAndEverySixteenthRecurringErrorIsShown) {
    ConsoleThrottle throttle;
    std::vector<int> shown;
    for (int i = 1; i <= 20; ++i) {
        if (throttle.Admit(kNoResponse)) shown.push_back(i);
    }
    EXPECT_EQ(shown, (std::vector<int>{1, 16}));
}

TEST(ConsoleThrottle, RecurringErrorsShareOneCounterAndOthersPass) {
    ConsoleThrottle throttle;
    EXPECT_TRUE(throttle.Admit("Configuration Error!"));
    EXPECT_FALSE(throttle.Admit("Shutdown file empty or not found!"));
    EXPECT_FALSE(throttle.Admit(kNoResponse));
    EXPECT_TRUE(throttle.Admit("Start Running!"));
    EXPECT_TRUE(throttle.Admit("input buffer overflow"));
    EXPECT_FALSE(throttle.Admit("Cannot Initialize the SNMP Session!!"));
    // After a reconnect the next error is news again.
    EXPECT_TRUE(throttle.Admit("UPS Reconnected!!"));
    EXPECT_TRUE(throttle.Admit("SNMP Agent unable to get data from the UPS"));
    EXPECT_FALSE(throttle.Admit(kNoResponse));
}

TEST(PrintToConsole, WritesTheTaggedLineToTheConsoleAndSkipsAMissingOne) {
    TempRoot root;
    root.Write("console", "");
    setenv("KELVORA_CONSOLE", root.Path("console").c_str(), 1);
    PrintToConsole("Start Running!");
    PrintToConsole("Ver. 2.1");
    EXPECT_EQ(root.Read("console"), "<Kelvora> Start Running!\n<Kelvora> Ver. 2.1\n");

    // A console that is not there is not created.
    setenv("KELVORA_CONSOLE", root.Path("absent").c_str(), 1);
    PrintToConsole("Start Running!");
    EXPECT_FALSE(std::filesystem::exists(root.Path("absent")));
    unsetenv("KELVORA_CONSOLE");
}
