#include <gtest/gtest.h>

#include <string_view>

#include "service_version.h"

TEST(ServiceName, IsTheProgramsName) {
    EXPECT_EQ(std::string_view(torvane::kServiceName), "Torvane");
}
