// Line assembly, differential: the stream in one chunk, in the chunks the input chooses, and
// with each further chunk delivered from inside the sink (as while an error box is open) must
// give the same lines; and those lines, joined by CR, plus the pending text must be exactly
// the stream without its line feeds (no byte lost, none doubled).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "LineAssembler.h"

namespace {

struct Result {
    std::vector<std::string> lines;
    std::string pending;
    bool operator==(const Result&) const = default;
};

std::vector<std::string_view> Chunks(std::string_view stream, std::string_view sizes) {
    std::vector<std::string_view> chunks;
    std::size_t i = 0;
    while (!stream.empty()) {
        const std::size_t size =
            sizes.empty() ? stream.size()
                          : static_cast<unsigned char>(sizes[i++ % sizes.size()]) % 64 + 1;
        chunks.push_back(stream.substr(0, size));
        stream.remove_prefix(std::min(size, stream.size()));
    }
    return chunks;
}

void Feed(LineAssembler& assembler, std::string_view chunk) {
    const std::string copy(chunk);  // the assembler must not rely on the caller's buffer
    assembler.Receive(copy.data(), static_cast<std::int32_t>(copy.size()));
}

Result InChunks(const std::vector<std::string_view>& chunks) {
    Result r;
    LineAssembler assembler([&](const Win1250Text& line) { r.lines.push_back(line.Bytes()); });
    for (auto chunk : chunks) Feed(assembler, chunk);
    r.pending = assembler.PendingLine();
    return r;
}

Result Nested(const std::vector<std::string_view>& chunks) {
    Result r;
    std::size_t next = 0;
    LineAssembler* self = nullptr;
    LineAssembler assembler([&](const Win1250Text& line) {
        r.lines.push_back(line.Bytes());
        if (next < chunks.size()) Feed(*self, chunks[next++]);
    });
    self = &assembler;
    while (next < chunks.size()) Feed(assembler, chunks[next++]);
    r.pending = assembler.PendingLine();
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t sizeBytes = std::min<std::size_t>(data[0] % 8, size - 1);
    const std::string_view sizes = input.substr(1, sizeBytes);
    const std::string_view stream = input.substr(1 + sizeBytes);

    const Result whole = InChunks(Chunks(stream, {}));
    std::string joined;
    for (const auto& line : whole.lines) joined += line + '\r';
    joined += whole.pending;
    std::string withoutLf;
    for (char c : stream) {
        if (c != '\n') withoutLf += c;
    }
    if (joined != withoutLf) __builtin_trap();

    const auto chunks = Chunks(stream, sizes.empty() ? std::string_view("\x01") : sizes);
    if (!(InChunks(chunks) == whole)) __builtin_trap();
    if (!(Nested(chunks) == whole)) __builtin_trap();
    return 0;
}
