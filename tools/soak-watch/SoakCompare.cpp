// Pure computations of the soak verdict (see SoakCompare.h).
#include "SoakCompare.h"

#include <algorithm>
#include <charconv>

std::string ExpectedRecording(std::string_view sent) {
    std::string out;
    out.reserve(sent.size() + sent.size() / 2);
    std::string line;
    for (const char c : sent) {
        if (c == '\n') continue;
        if (c == '\r') {
            out += line;
            out += "\r\n";
            line.clear();
            continue;
        }
        line += c;
    }
    return out;
}

std::vector<std::uint64_t> LineEnds(std::string_view expected) {
    std::vector<std::uint64_t> ends;
    for (std::size_t i = 0; i + 1 < expected.size(); ++i) {
        if (expected[i] == '\r' && expected[i + 1] == '\n') ends.push_back(i + 2);
    }
    return ends;
}

std::uint64_t MismatchedBytes(std::string_view expected, std::string_view actual) {
    const std::size_t common = std::min(expected.size(), actual.size());
    std::uint64_t differing = 0;
    for (std::size_t i = 0; i < common; ++i) differing += expected[i] != actual[i];
    return differing + (std::max(expected.size(), actual.size()) - common);
}

DelayResult LineDelays(const std::vector<std::int64_t>& sentNs,
                       const std::vector<std::uint64_t>& lineEnds,
                       const std::vector<SizeSample>& samples) {
    DelayResult result;
    const std::size_t lines = std::min(sentNs.size(), lineEnds.size());
    std::size_t s = 0;
    for (std::size_t i = 0; i < lines; ++i) {
        while (s < samples.size() && samples[s].size < lineEnds[i]) ++s;
        if (s == samples.size()) break;
        result.maxDelayNs = std::max(result.maxDelayNs, samples[s].monoNs - sentNs[i]);
        ++result.measured;
    }
    return result;
}

namespace {

// Splits `text` into whitespace-separated signed integers of one line; false if any is malformed.
bool ParseLine(std::string_view line, std::vector<std::int64_t>& fields) {
    fields.clear();
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ') ++i;
        if (i == line.size()) break;
        std::int64_t value = 0;
        const auto [end, ec] = std::from_chars(line.data() + i, line.data() + line.size(), value);
        if (ec != std::errc() || (end != line.data() + line.size() && *end != ' ')) return false;
        fields.push_back(value);
        i = static_cast<std::size_t>(end - line.data());
    }
    return true;
}

template <typename Take>
void ForEachLine(std::string_view text, std::size_t fieldCount, Take take) {
    std::vector<std::int64_t> fields;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        if (ParseLine(text.substr(start, end - start), fields) && fields.size() == fieldCount) {
            take(fields);
        }
        start = end + 1;
    }
}

}  // namespace

std::vector<std::int64_t> ParseSendTimes(std::string_view text) {
    std::vector<std::int64_t> times;
    ForEachLine(text, 3, [&](const std::vector<std::int64_t>& f) { times.push_back(f[1]); });
    return times;
}

std::vector<SizeSample> ParseSamples(std::string_view text) {
    std::vector<SizeSample> samples;
    ForEachLine(text, 2, [&](const std::vector<std::int64_t>& f) {
        if (f[1] >= 0) samples.push_back({f[0], static_cast<std::uint64_t>(f[1])});
    });
    return samples;
}
