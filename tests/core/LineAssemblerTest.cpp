// Line assembly: CR ends a line, LF is dropped, every other byte is line content; chunk
// boundaries never matter; lines completed from inside the sink are neither lost nor doubled.

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "CoreTestSupport.h"
#include "LineAssembler.h"
#include "LineRouting.h"

using namespace std::string_literals;

namespace {

struct Collector {
    std::vector<std::string> lines;
    LineAssembler assembler{[this](const Win1250Text& line) { lines.push_back(line.Bytes()); }};

    void Feed(const std::string& bytes) {
        assembler.Receive(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    }
    // Feeds the stream cut at the given chunk sizes (the rest as the last chunk).
    void FeedChunked(const std::string& stream, const std::vector<std::size_t>& cuts) {
        std::size_t pos = 0;
        for (std::size_t size : cuts) {
            if (pos >= stream.size()) break;
            Feed(stream.substr(pos, size));
            pos += size;
        }
        if (pos < stream.size()) Feed(stream.substr(pos));
    }
};

struct StreamCase {
    std::string stream;
    std::vector<std::string> lines;
    std::string pending;
};

std::ostream& operator<<(std::ostream& out, const StreamCase& c) {
    return out << Escaped(c.stream);
}

class AssemblyTest : public ::testing::TestWithParam<StreamCase> {};

TEST_P(AssemblyTest, SameLinesUnderEveryChunking) {
    const StreamCase& c = GetParam();
    std::vector<std::vector<std::size_t>> chunkings = {{}};
    for (std::size_t size = 1; size <= c.stream.size(); ++size) {
        chunkings.push_back(std::vector<std::size_t>(c.stream.size(), size));
    }
    std::mt19937 random(7);
    for (int round = 0; round < 50; ++round) {
        std::vector<std::size_t> cuts;
        for (std::size_t i = 0; i < c.stream.size(); ++i) cuts.push_back(random() % 4 + 1);
        chunkings.push_back(cuts);
    }
    for (const auto& cuts : chunkings) {
        Collector collector;
        collector.FeedChunked(c.stream, cuts);
        EXPECT_EQ(collector.lines, c.lines);
        EXPECT_EQ(collector.assembler.PendingLine(), c.pending);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Streams, AssemblyTest,
    ::testing::Values(StreamCase{"12.5\r\n", {"12.5"}, ""}, StreamCase{"12.5\r", {"12.5"}, ""},
                      StreamCase{"\r\n\r\n", {"", ""}, ""}, StreamCase{"\n\r", {""}, ""},
                      StreamCase{"xy\nz\r", {"xyz"}, ""},
                      StreamCase{"a\r\nb\n\rc\rd", {"a", "b", "c"}, "d"},
                      StreamCase{"no end\n\n", {}, "no end"},
                      StreamCase{"1\0"
                                 "2\r"s,
                                 {"1\0"
                                  "2"s},
                                 ""},
                      StreamCase{"\xFF\x80\xA5\x01\t\r", {"\xFF\x80\xA5\x01\t"}, ""},
                      StreamCase{"", {}, ""}, StreamCase{"\r\r\r", {"", "", ""}, ""},
                      StreamCase{" 12,50\r\n TARA\r\n-", {" 12,50", " TARA"}, "-"}));

TEST(AssemblyTest, SecondChunkCompletesTheLine) {
    Collector c;
    c.Feed("12");
    EXPECT_TRUE(c.lines.empty());
    c.Feed(".5\r");
    EXPECT_EQ(c.lines, std::vector<std::string>{"12.5"});
}

TEST(AssemblyTest, ClearPendingLineDropsThePartialLine) {
    Collector c;
    c.Feed("12");
    c.assembler.ClearPendingLine();
    c.Feed(".5\r");
    EXPECT_EQ(c.lines, std::vector<std::string>{".5"});
}

TEST(AssemblyTest, NonPositiveSizeDoesNothing) {
    Collector c;
    c.Feed("ab");
    const char bytes[] = "x\ry\r";
    for (std::int32_t size : {0, -1, -4, INT32_MIN}) c.assembler.Receive(bytes, size);
    c.assembler.Receive(nullptr, 3);
    EXPECT_TRUE(c.lines.empty());
    EXPECT_EQ(c.assembler.PendingLine(), "ab");
}

// Every byte value at every position of a line, with a chunk boundary at every place.
TEST(AssemblyTest, EveryByteInEveryPositionAndChunking) {
    const std::string base = "12.5";
    for (int b = 0; b < 256; ++b) {
        const char byte = static_cast<char>(b);
        for (std::size_t at = 0; at <= base.size(); ++at) {
            const std::string stream = base.substr(0, at) + byte + base.substr(at) + "\r";
            std::vector<std::string> expected;
            if (byte == '\r') {
                expected = {base.substr(0, at), base.substr(at)};
            } else if (byte == '\n') {
                expected = {base};
            } else {
                expected = {base.substr(0, at) + byte + base.substr(at)};
            }
            for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
                Collector c;
                c.FeedChunked(stream, {cut});
                ASSERT_EQ(c.lines, expected) << "byte " << b << " at " << at << " cut " << cut;
                ASSERT_EQ(c.assembler.PendingLine(), "");
            }
        }
    }
}

// A line that never meets a CR is handed over at 1,048,576 bytes; nothing is dropped.
TEST(AssemblyTest, OneMebibyteWithoutCarriageReturn) {
    const std::size_t max = LineAssembler::kMaxPendingLine;
    ASSERT_EQ(max, 1048576u);
    std::string stream(max + 10, 'x');
    stream[5] = '\n';  // dropped, so the bound is met one byte later
    stream += "\r";
    for (std::size_t chunk : {stream.size(), std::size_t{4096}, std::size_t{1000003}}) {
        Collector c;
        c.FeedChunked(stream, std::vector<std::size_t>(stream.size() / chunk + 1, chunk));
        ASSERT_EQ(c.lines.size(), 2u);
        EXPECT_EQ(c.lines[0], std::string(max, 'x'));
        EXPECT_EQ(c.lines[1], std::string(9, 'x'));
        EXPECT_EQ(c.assembler.PendingLine(), "");
    }
    for (std::size_t chunk : {max + 1, std::size_t{4096}}) {
        Collector exact;  // exactly the bound, then its carriage return: still one line
        exact.FeedChunked(std::string(max, 'z') + "\r\n",
                          std::vector<std::size_t>(max / chunk + 2, chunk));
        ASSERT_EQ(exact.lines.size(), 1u);
        EXPECT_EQ(exact.lines[0].size(), max);
    }
    Collector pending;
    pending.Feed(std::string(3 * max + 1, 'y'));
    EXPECT_EQ(pending.lines.size(), 3u);
    EXPECT_EQ(pending.assembler.PendingLine(), "y");
}

// The sink feeds further chunks while it works (as a modal box inside it would). The nested chunk
// is written into the same buffer the outer call got, like the port's receive buffer.
TEST(ReentryTest, NestedChunksKeepOrderAndLoseNothing) {
    std::vector<std::string> lines;
    char buffer[16];
    std::vector<std::string> nested = {"C\rD", "\rE\r"};
    LineAssembler* self = nullptr;
    LineAssembler assembler([&](const Win1250Text& line) {
        lines.push_back(line.Bytes());
        if (!nested.empty()) {
            const std::string chunk = nested.front();
            nested.erase(nested.begin());
            std::memset(buffer, '#', sizeof buffer);
            std::memcpy(buffer, chunk.data(), chunk.size());
            self->Receive(buffer, static_cast<std::int32_t>(chunk.size()));
        }
    });
    self = &assembler;
    const std::string first = "A\rB\rtail";
    std::memcpy(buffer, first.data(), first.size());
    assembler.Receive(buffer, static_cast<std::int32_t>(first.size()));
    assembler.Receive("\r", 1);
    // The stream in arrival order is "A\rB\rtail" "C\rD" "\rE\r" "\r".
    EXPECT_EQ(lines, (std::vector<std::string>{"A", "B", "tailC", "D", "E", ""}));
    EXPECT_EQ(assembler.PendingLine(), "");
}

}  // namespace
