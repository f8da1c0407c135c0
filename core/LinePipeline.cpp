#include "LinePipeline.h"

#include <algorithm>
#include <chrono>

#include "LineRouting.h"
#include "NumberText.h"

LineClass ClassifyLine(const Win1250Text& line, char decimalSeparator) {
    LineClass result;
    const std::string test = DotsToCommas(RemoveSpaces(line.Bytes()));
    if (!IsNumberText(test, decimalSeparator)) return result;
    result.kind = LineKind::Reading;
    result.readingText = Win1250Text(CommasToDots(RemoveSpaces(line.Shown())));
    result.value = NumberTextValue(test, decimalSeparator);
    return result;
}

std::int64_t UtcNowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

LinePipeline::LinePipeline(Clock clock)
    : clock_(std::move(clock)), assembler_([this](const Win1250Text& line) { Dispatch(line); }) {}

void LinePipeline::Subscribe(ILineSink* sink) {
    if (sink == nullptr) return;
    for (const Subscriber& s : sinks_)
        if (s.sink == sink) return;
    sinks_.push_back({sink, lastEvent_});  // hears what happens from now on
}

// While events are handed out the entry stays, empty, so no index moves under the loop.
void LinePipeline::Unsubscribe(ILineSink* sink) {
    for (Subscriber& s : sinks_)
        if (s.sink == sink) s.sink = nullptr;
    if (pumping_ == 0) std::erase_if(sinks_, [](const Subscriber& s) { return s.sink == nullptr; });
}

void LinePipeline::Receive(const char* data, std::int32_t size) {
    // A line is stamped with the arrival of the chunk at work when it is completed: a nested
    // chunk (arriving under a box) first works through the outer chunk's rest, so those lines
    // get the nested chunk's time, and times never go back.
    const std::int64_t outerTime = chunkTimeMs_;
    chunkTimeMs_ = clock_();
    ++chunkDepth_;
    assembler_.Receive(data, size);
    --chunkDepth_;
    chunkTimeMs_ = outerTime;
    Post(Held(Held::What::ChunkEnd));
}

void LinePipeline::Reset() {
    assembler_.ClearPendingLine();
    Post(Held(Held::What::Reset));
}

void LinePipeline::AnnouncePortState(PortState state) {
    Held event(Held::What::Port);
    event.port = port_;
    event.state = state;
    event.timeMs = clock_();
    Post(std::move(event));
}

void LinePipeline::Dispatch(const Win1250Text& line) {
    Held event(Held::What::Line);
    event.line = line;
    event.cls = ClassifyLine(line);
    event.unit = unit_;
    event.timeMs = chunkTimeMs_;
    event.port = port_;
    Post(std::move(event));
}

void LinePipeline::Post(Held event) {
    events_.push_back(std::make_shared<const Held>(std::move(event)));
    ++lastEvent_;
    Pump();
}

void LinePipeline::Pump() {
    ++pumping_;
    // By index, the list read afresh at each step: a sink may subscribe or unsubscribe others.
    for (std::size_t i = 0; i < sinks_.size(); ++i) {
        while (sinks_[i].sink != nullptr && sinks_[i].heard < lastEvent_) {
            const std::uint64_t number = ++sinks_[i].heard;  // heard before the call: no repeat
            const std::shared_ptr<const Held> event = events_[number - firstEvent_];
            Deliver(*sinks_[i].sink, *event);
        }
    }
    if (--pumping_ == 0)
        std::erase_if(sinks_, [](const Subscriber& s) { return s.sink == nullptr; });
    // Also under a box: what every sink has heard is let go, so a long box holds nothing back.
    std::uint64_t heardByAll = lastEvent_;
    for (const Subscriber& s : sinks_)
        if (s.sink != nullptr) heardByAll = std::min(heardByAll, s.heard);
    while (firstEvent_ <= heardByAll && !events_.empty()) {
        events_.pop_front();
        ++firstEvent_;
    }
}

void LinePipeline::Deliver(ILineSink& sink, const Held& event) {
    switch (event.what) {
        case Held::What::Line:
            sink.OnLine(LineEvent{event.line, event.cls, event.unit, event.timeMs, event.port});
            break;
        case Held::What::ChunkEnd:
            sink.OnChunkEnd();
            break;
        case Held::What::Reset:
            sink.OnReset();
            break;
        case Held::What::Port:
            sink.OnPortState(PortStateEvent{event.port, event.state, event.timeMs});
            break;
    }
}
