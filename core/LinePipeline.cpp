#include "LinePipeline.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "LineRouting.h"
#include "NumberText.h"

LineClass ClassifyLine(const Win1250Text& line, char decimalSeparator) {
    LineClass result;
    const std::string test = DotsToCommas(RemoveSpaces(line.Bytes()));
    if (!IsNumberText(test, decimalSeparator)) return result;
    result.kind = LineKind::Reading;
    result.readingText = Win1250Text(CommasToDots(RemoveSpaces(line.Shown())));
    // The number test accepted the text up to its first byte 0; strtod reads the same digits
    // once the separator is a dot. A value beyond double's range is no value.
    const std::string shown = CommasToDots(std::string_view(test).substr(0, test.find('\0')));
    char* end = nullptr;
    const double value = std::strtod(shown.c_str(), &end);
    if (end != shown.c_str() && value == value && value <= 1.7976931348623157e308 &&
        value >= -1.7976931348623157e308) {
        result.value = value;
    }
    return result;
}

std::int64_t UtcNowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

LinePipeline::LinePipeline(Clock clock)
    : clock_(std::move(clock)), assembler_([this](const Win1250Text& line) { Dispatch(line); }) {}

void LinePipeline::Subscribe(ILineSink* sink) {
    if (sink != nullptr && std::find(sinks_.begin(), sinks_.end(), sink) == sinks_.end()) {
        sinks_.push_back(sink);
    }
}

void LinePipeline::Unsubscribe(ILineSink* sink) {
    sinks_.erase(std::remove(sinks_.begin(), sinks_.end(), sink), sinks_.end());
}

void LinePipeline::Receive(const char* data, std::int32_t size) {
    // A nested chunk (arriving under a box) gets its own arrival time; the outer chunk's lines
    // keep theirs.
    const std::int64_t outerTime = chunkTimeMs_;
    chunkTimeMs_ = clock_();
    ++chunkDepth_;
    assembler_.Receive(data, size);
    --chunkDepth_;
    chunkTimeMs_ = outerTime;
    for (std::size_t i = 0; i < sinks_.size(); ++i) sinks_[i]->OnChunkEnd();
}

void LinePipeline::Reset() {
    assembler_.ClearPendingLine();
    for (std::size_t i = 0; i < sinks_.size(); ++i) sinks_[i]->OnReset();
}

void LinePipeline::AnnouncePortState(PortState state) {
    const PortStateEvent event{port_, state, clock_()};
    for (std::size_t i = 0; i < sinks_.size(); ++i) sinks_[i]->OnPortState(event);
}

void LinePipeline::Dispatch(const Win1250Text& line) {
    const LineClass cls = ClassifyLine(line);
    const Win1250Text unit = unit_;
    const LineEvent event{line, cls, unit, chunkTimeMs_, port_};
    // By index: the list is read afresh at each step, so a sink that subscribes or unsubscribes
    // another while it runs (under a box) never leaves a dangling iterator.
    for (std::size_t i = 0; i < sinks_.size(); ++i) sinks_[i]->OnLine(event);
}
