// The archive's byte forms and its behaviour on short, hostile and failing devices.
#include <gtest/gtest.h>

#include "test_support.h"
#include "ups_lib/archive.h"

namespace ups {
namespace {

using test::ReadData;

std::string Letters(std::size_t n) {
    std::string s(n, ' ');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i % 26);
    return s;
}

std::string DecodeString(const std::vector<std::uint8_t>& bytes) {
    MemorySource src(bytes);
    Archive ar = Archive::Loading(src);
    std::string s = ar.ReadString();
    EXPECT_TRUE(ar.AtEnd());
    return s;
}

TEST(ArchiveNumbers, LittleEndianInEveryWidth) {
    std::vector<std::uint8_t> out;
    VectorSink sink(out);
    Archive ar = Archive::Storing(sink);
    ar.WriteNumber(0x11223344);
    ar.WriteInt(-2);
    ar.WriteWord(0xA1B2);
    ar.WriteByte(0x7F);
    ar.Flush();
    EXPECT_EQ(out, (std::vector<std::uint8_t>{0x44, 0x33, 0x22, 0x11, 0xFE, 0xFF, 0xFF, 0xFF, 0xB2,
                                              0xA1, 0x7F}));

    MemorySource src(out);
    Archive in = Archive::Loading(src);
    EXPECT_EQ(in.ReadNumber(), 0x11223344u);
    EXPECT_EQ(in.ReadInt(), -2);
    EXPECT_EQ(in.ReadWord(), 0xA1B2);
    EXPECT_EQ(in.ReadByte(), 0x7F);
    EXPECT_TRUE(in.AtEnd());
}

TEST(ArchiveStrings, LengthFormsAtTheirBoundaries) {
    EXPECT_EQ(EncodeString(""), std::vector<std::uint8_t>{0});
    const auto s254 = EncodeString(std::string(254, 'x'));
    ASSERT_EQ(s254.size(), 255u);
    EXPECT_EQ(s254[0], 254);

    // 255 characters: the escape and a 16-bit length (golden file).
    EXPECT_EQ(EncodeString(std::string(255, 'x')), ReadData("string_255.bin"));
    const auto s65534 = EncodeString(std::string(65534, 'y'));
    EXPECT_EQ(std::vector<std::uint8_t>(s65534.begin(), s65534.begin() + 3),
              (std::vector<std::uint8_t>{0xFF, 0xFE, 0xFF}));
    const auto s65535 = EncodeString(std::string(65535, 'y'));
    EXPECT_EQ(std::vector<std::uint8_t>(s65535.begin(), s65535.begin() + 7),
              (std::vector<std::uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}));
    // 70 000 characters: the 32-bit form (golden file).
    EXPECT_EQ(EncodeString(Letters(70000)), ReadData("string_70000.bin"));
}

TEST(ArchiveStrings, ReadBackUnchanged) {
    for (std::size_t n : {0u, 1u, 254u, 255u, 4095u, 4096u, 65534u, 65535u, 70000u}) {
        const std::string s = Letters(n);
        EXPECT_EQ(DecodeString(EncodeString(s)), s) << n;
    }
    EXPECT_EQ(DecodeString(ReadData("string_70000.bin")), Letters(70000));
    // Bytes above 0x7F are characters of the code page, carried as they are.
    const std::string ansi("\xA5\xE6\xFF\x00z", 5);
    EXPECT_EQ(DecodeString(EncodeString(ansi)), ansi);
}

TEST(ArchiveStrings, HostileLengthIsAnErrorNotAnAllocation) {
    // 4 GB announced, three bytes present: refused before any allocation (under the address
    // sanitizer an attempt would show up as an allocation-size error).
    const auto bytes = ReadData("string_hostile.bin");
    MemorySource src(bytes);
    Archive ar = Archive::Loading(src);
    try {
        ar.ReadString();
        FAIL() << "hostile length accepted";
    } catch (const ArchiveError& e) {
        EXPECT_EQ(e.code(), ArchiveErrc::Corrupt);
    }
}

TEST(ArchiveStrings, StreamWithoutKnownSizeGrowsOnlyWithTheData) {
    // A peer announces 4 GB and sends a few bytes: the read ends with EndOfData after at most
    // one piece of memory, never a 4-GB buffer.
    auto bytes = ReadData("string_hostile.bin");
    test::StreamSource src(bytes);
    Archive ar = Archive::Loading(src);
    try {
        ar.ReadString();
        FAIL() << "truncated stream accepted";
    } catch (const ArchiveError& e) {
        EXPECT_EQ(e.code(), ArchiveErrc::EndOfData);
    }
    // A real long string over the same kind of stream arrives whole.
    test::StreamSource ok(ReadData("string_70000.bin"));
    Archive ar2 = Archive::Loading(ok);
    EXPECT_EQ(ar2.ReadString(), Letters(70000));
}

TEST(ArchiveLoading, ShortDataIsEndOfData) {
    const std::vector<std::uint8_t> three{1, 2, 3};
    MemorySource src(three);
    Archive ar = Archive::Loading(src);
    EXPECT_EQ(ar.ReadWord(), 0x0201);
    try {
        ar.ReadNumber();
        FAIL();
    } catch (const ArchiveError& e) {
        EXPECT_EQ(e.code(), ArchiveErrc::EndOfData);
    }
}

TEST(ArchiveStoring, DeviceFailureIsReportedAsIo) {
    // More than one 4096-byte buffer, so the failure comes from a mid-record write and then from
    // the final flush.
    test::FailSink sink(5000);
    Archive ar = Archive::Storing(sink);
    const std::string big(6000, 'z');
    try {
        ar.WriteString(big);
        ar.Flush();
        FAIL() << "a full device went unnoticed";
    } catch (const ArchiveError& e) {
        EXPECT_EQ(e.code(), ArchiveErrc::Io);
    }
    EXPECT_LE(sink.written(), 5000u);
}

TEST(ArchiveStoring, BytesCrossBufferBoundariesIntact) {
    std::vector<std::uint8_t> out;
    VectorSink sink(out);
    Archive ar = Archive::Storing(sink);
    for (std::uint32_t i = 0; i < 3000; ++i) ar.WriteNumber(i);
    ar.Flush();
    ASSERT_EQ(out.size(), 12000u);
    test::StreamSource src(out);
    Archive in = Archive::Loading(src);
    for (std::uint32_t i = 0; i < 3000; ++i) ASSERT_EQ(in.ReadNumber(), i);
}

}  // namespace
}  // namespace ups
