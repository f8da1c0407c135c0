#include "JournalRows.h"

#include <algorithm>
#include <utility>

std::string_view JournalKindName(JournalKind kind) {
    switch (kind) {
        case JournalKind::Reading:
            return "reading";
        case JournalKind::Report:
            return "report";
        case JournalKind::Gap:
            return "gap";
    }
    return "report";
}

std::optional<JournalKind> JournalKindFromName(std::string_view name) {
    if (name == "reading") return JournalKind::Reading;
    if (name == "report") return JournalKind::Report;
    if (name == "gap") return JournalKind::Gap;
    return std::nullopt;
}

std::string Win1250ToUtf8(std::string_view bytes) {
    if (std::all_of(bytes.begin(), bytes.end(), [](char b) { return b != 0 && (b & 0x80) == 0; })) {
        return std::string(bytes);  // the code page's first half is ASCII
    }
    std::string out;
    out.reserve(bytes.size());
    for (const char byte : bytes) {
        const char16_t c = Win1250ToVisible(static_cast<unsigned char>(byte));
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {  // the code page has no character outside the basic plane
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

JournalRuns::Place JournalRuns::PlaceLine(const LineEvent& event) {
    const bool reading = event.cls.kind == LineKind::Reading;
    if (reading && open_ && open_->row.raw == event.line.Bytes() &&
        open_->unitRaw == event.unit.Bytes() && open_->port == event.port) {
        open_->row.lastMs = event.receivedUtcMs;
        ++open_->row.count;
        lastSeq_ = open_->row.seq;
        return {true, lastSeq_};
    }
    lastSeq_ = nextSeq_++;
    if (!reading) {
        open_.reset();
        return {false, lastSeq_};
    }
    if (!open_) open_.emplace();
    JournalRow& row = open_->row;
    row.seq = lastSeq_;
    row.kind = JournalKind::Reading;
    row.firstMs = row.lastMs = event.receivedUtcMs;
    row.count = 1;
    row.raw = event.line.Bytes();
    row.text.clear();
    row.value.reset();
    row.unit.clear();
    row.port.clear();
    open_->unitRaw = event.unit.Bytes();
    open_->port = event.port;
    return {false, lastSeq_};
}

JournalOp JournalRuns::Line(const LineEvent& event) {
    const Place place = PlaceLine(event);
    if (place.grows) return JournalOp{JournalOp::Type::Grow, open_->row};
    const bool reading = event.cls.kind == LineKind::Reading;
    JournalOp op;
    op.type = JournalOp::Type::Insert;
    JournalRow& row = op.row;
    row.seq = place.seq;
    row.kind = reading ? JournalKind::Reading : JournalKind::Report;
    row.firstMs = row.lastMs = event.receivedUtcMs;
    row.count = 1;
    row.text = Win1250ToUtf8(event.line.Bytes());
    row.raw = event.line.Bytes();
    if (reading) row.value = event.cls.value;
    row.unit = Win1250ToUtf8(event.unit.Bytes());
    row.port = PortName(event.port);
    if (reading) open_->row = row;  // a grow carries the whole row
    return op;
}

JournalOp JournalRuns::Gap(std::int64_t skipped, std::int64_t firstMs, std::int64_t lastMs,
                           std::string reason) {
    JournalOp op;
    op.row.seq = nextSeq_++;
    op.row.kind = JournalKind::Gap;
    op.row.firstMs = firstMs;
    op.row.lastMs = lastMs;
    op.row.count = skipped;
    op.row.text = std::move(reason);
    return op;
}

void AppendOp(std::vector<JournalOp>& batch, JournalOp op) {
    if (op.type == JournalOp::Type::Grow && !batch.empty() && batch.back().row.seq == op.row.seq) {
        batch.back().row.lastMs = op.row.lastMs;
        batch.back().row.count = op.row.count;
        return;
    }
    batch.push_back(std::move(op));
}

std::size_t OpBytes(const JournalOp& op) {
    return sizeof(JournalOp) + op.row.text.size() + op.row.raw.size() + op.row.unit.size() +
           op.row.port.size();
}

std::string SeqRangeProblem(std::int64_t seq) {
    return "numer " + std::to_string(seq) + " spoza zakresu 1–" + std::to_string(kMaxSeq);
}
