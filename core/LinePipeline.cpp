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
    if (sink == nullptr || std::find(sinks_.begin(), sinks_.end(), sink) != sinks_.end()) return;
    sinks_.push_back(sink);  // hears what happens from now on
}

// While an event is handed out the entry stays, empty, so no index moves under the loop.
void LinePipeline::Unsubscribe(ILineSink* sink) {
    std::replace(sinks_.begin(), sinks_.end(), sink, static_cast<ILineSink*>(nullptr));
    if (!delivering_) std::erase(sinks_, nullptr);
}

void LinePipeline::Receive(const char* data, std::int32_t size) {
    chunkTimeMs_ = clock_();  // every line completed by this chunk arrived with it
    assembler_.Receive(data, size);
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
    if (delivering_) {
        waiting_.push_back(std::move(event));
        return;
    }
    delivering_ = true;
    DeliverToAll(event);
    while (!waiting_.empty()) {
        const Held next = std::move(waiting_.front());
        waiting_.pop_front();
        DeliverToAll(next);
    }
    delivering_ = false;
    std::erase(sinks_, nullptr);
}

void LinePipeline::DeliverToAll(const Held& event) {
    // By index: a sink may unsubscribe others (their entries stay, empty) or subscribe one (it
    // hears the next event).
    const std::size_t count = sinks_.size();
    for (std::size_t i = 0; i < count; ++i) {
        ILineSink* sink = sinks_[i];
        if (sink == nullptr) continue;
        switch (event.what) {
            case Held::What::Line:
                sink->OnLine(
                    LineEvent{event.line, event.cls, event.unit, event.timeMs, event.port});
                break;
            case Held::What::ChunkEnd:
                sink->OnChunkEnd();
                break;
            case Held::What::Reset:
                sink->OnReset();
                break;
            case Held::What::Port:
                sink->OnPortState(PortStateEvent{event.port, event.state, event.timeMs});
                break;
        }
    }
}
