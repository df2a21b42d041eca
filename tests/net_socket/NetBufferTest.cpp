// Byte buffers and memory streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "http/NetBuffer.h"
#include "http/NetSocketErrors.h"

using namespace net;

TEST(NetSimpleBuffer, CapacityMovesInStepsOf8192) {
    TNetSimpleBuffer b;
    b.Append(std::string(1, 'a').data(), 1);
    EXPECT_EQ(b.Capacity(), 8192);
    const std::string big(8192, 'b');
    b.Append(big.data(), 8192);
    EXPECT_EQ(b.Capacity() % 8192, 0);
    EXPECT_GE(b.Capacity(), 8193);
    b.DiscardFront(b.Size());
    EXPECT_EQ(b.Capacity(), 0);  // emptied: memory released
}

TEST(NetSimpleBuffer, TakeAndDiscardFrontMoveTheRestToTheFront) {
    TNetSimpleBuffer b;
    std::int64_t removed = 0;
    b.OnRemove = [&](std::int64_t n) { removed += n; };
    b.Write(std::string_view("hello world"));
    EXPECT_EQ(b.TakeFront(6), "hello ");
    EXPECT_EQ(std::string(b.Memory(), static_cast<std::size_t>(b.Size())), "world");
    b.DiscardFront(2);
    EXPECT_EQ(std::string(b.Memory(), 3), "rld");
    EXPECT_EQ(removed, 8);
    try {
        b.TakeFront(4);
        FAIL() << "no exception";
    } catch (const ENetNotEnoughDataInBuffer& e) {
        EXPECT_STREQ(e.what(), "Not enough data in buffer.");
    }
    EXPECT_THROW(b.DiscardFront(4), ENetNotEnoughDataInBuffer);
    EXPECT_EQ(b.Size(), 3);
}

TEST(NetManagedBuffer, ConsumingMovesAnOffsetUntilTheCompactionThreshold) {
    TNetManagedBuffer b;
    std::string data(40000, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i % 251);
    b.Append(data.data(), static_cast<std::int64_t>(data.size()));

    b.DiscardFront(30000);
    EXPECT_EQ(b.ReadOffset(), 30000);
    EXPECT_EQ(b.Size(), 10000);
    EXPECT_EQ(b.Memory()[0], data[30000]);

    b.DiscardFront(2767);  // offset reaches 32767: not yet
    EXPECT_EQ(b.ReadOffset(), 32767);
    b.DiscardFront(1);  // 32768: compacted
    EXPECT_EQ(b.ReadOffset(), 0);
    EXPECT_EQ(b.Size(), 40000 - 32768);
    EXPECT_EQ(std::string(b.Memory(), static_cast<std::size_t>(b.Size())), data.substr(32768));

    b.Append("xy", 2);
    EXPECT_EQ(b.TakeFront(b.Size()), data.substr(32768) + "xy");
    EXPECT_EQ(b.ReadOffset(), 0);
    EXPECT_EQ(b.Size(), 0);
}

TEST(NetManagedBuffer, PositionsCountFromTheReadOffset) {
    TNetManagedBuffer b;
    b.Append("abcdef", 6);
    b.DiscardFront(2);
    EXPECT_EQ(b.Position(), 0);
    char out[2];
    EXPECT_EQ(b.Read(out, 2), 2);
    EXPECT_EQ(std::string(out, 2), "cd");
    EXPECT_EQ(b.Position(), 2);
}

TEST(NetMemoryStream, WritesReadsAndSizes) {
    TNetMemoryStream s;
    s.Write(std::string_view("abcdef"));
    EXPECT_EQ(s.Size(), 6);
    s.SetPosition(2);
    char out[3];
    EXPECT_EQ(s.Read(out, 3), 3);
    EXPECT_EQ(std::string(out, 3), "cde");
    s.SetSize(3);
    EXPECT_EQ(s.Position(), 3);
    s.SetSize(5);  // grows with zero bytes, not with old content
    EXPECT_EQ(s.View(), std::string("abc\0\0", 5));
}

TEST(NetMemoryStream, DirectWriteCommitsOnlyWhatItSays) {
    TNetMemoryStream s;
    s.ReserveCapacity(100);
    EXPECT_EQ(s.Size(), 0);
    char* room = s.BeginDirectWrite(10);
    std::memcpy(room, "0123456789", 10);
    EXPECT_EQ(s.Size(), 0);
    s.CommitDirectWrite(4);
    EXPECT_EQ(s.View(), "0123");
    EXPECT_EQ(s.Position(), 4);
    const std::string taken = s.TakeString();
    EXPECT_EQ(taken, "0123");
    EXPECT_EQ(s.Size(), 0);
}

TEST(NetMemoryStream, TakeStringMovesTheStorageOut) {
    TNetMemoryStream s;
    s.ReserveCapacity(1 << 20);
    s.Write(std::string(1000, 'z'));
    const char* storage = s.View().data();
    const std::string taken = s.TakeString();
    EXPECT_EQ(taken.data(), storage);  // no copy
    EXPECT_EQ(taken.size(), 1000u);
}

TEST(NetMemoryStream, AnAnnouncedLengthIsReservedOnlyWithinThePageCap) {
    TNetMemoryStream within;
    within.ReserveCapacity(TNetMemoryStream::kMaxReserve);
    EXPECT_GE(within.Capacity(), TNetMemoryStream::kMaxReserve);
    // Beyond the cap what a peer announces reserves nothing: the bytes decide.
    for (const std::int64_t announced : {TNetMemoryStream::kMaxReserve + 1, std::int64_t{3} << 30, INT64_MAX}) {
        TNetMemoryStream beyond;
        beyond.ReserveCapacity(announced);
        EXPECT_LT(beyond.Capacity(), 1 << 20) << announced;
        beyond.Write(std::string_view("x"));
        EXPECT_EQ(beyond.View(), "x");
    }
}

TEST(NetMemoryStream, GrowingKeepsEveryByteAndTouchesNoRoomAhead) {
    // Past the size whose old storage is handed back as it is copied, in
    // pieces as a receive writes them, through several growths.
    TNetMemoryStream s;
    const std::int64_t total = (std::int64_t{20} << 20) + 12345;
    std::string expected;
    expected.reserve(static_cast<std::size_t>(total));
    for (std::int64_t at = 0; at < total;) {
        const std::int64_t n = std::min<std::int64_t>(32768, total - at);
        char* room = s.BeginDirectWrite(n);
        for (std::int64_t i = 0; i < n; ++i) room[i] = static_cast<char>((at + i) * 131 % 251);
        expected.append(room, static_cast<std::size_t>(n));
        s.CommitDirectWrite(n);
        at += n;
        EXPECT_LE(s.Capacity(), 2 * at + 65536);
    }
    ASSERT_EQ(s.Size(), total);
    EXPECT_TRUE(s.View() == expected);
    const std::string taken = s.TakeString();
    EXPECT_TRUE(taken == expected);
}
