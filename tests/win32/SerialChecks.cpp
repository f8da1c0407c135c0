// Checks of the Win32 serial device layer on COM2, a pseudo-terminal whose master pty-peer
// holds: opening, reading, purging, the line settings as the terminal then reports them, and the
// loss of the line. Each check opens its own device, as the component does on each reopen.

#include "SerialChecks.h"

#include <windows.h>
#include <winternl.h>  // RtlNtStatusToDosError

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "SerialDevice.h"
#include "Win32Errors.h"

namespace {

PeerLink* g_peer = nullptr;
constexpr std::size_t kReadSize = 2048;  // ComPortInBufSize: what the component asks for

using Device = std::unique_ptr<ISerialDevice>;

double NowMs() {
    LARGE_INTEGER frequency, counter;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&counter);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::string Text(long value) { return std::to_string(value); }

// Bytes as one printable line: controls and bytes above 0x7e as \xNN.
std::string Printable(const std::string& bytes) {
    std::string text;
    for (unsigned char c : bytes) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, c >= 0x20 && c < 0x7f ? "%c" : "\\x%02x", c);
        text += escaped;
    }
    return text;
}

const char* FailureName(OpenFailure failure) {
    static const char* const kNames[] = {"None", "MissingDevice", "PermissionDenied",
                                         "Busy", "NotATerminal",  "Other"};
    return kNames[static_cast<int>(failure)];
}

std::string Describe(const OpenResult& result) {
    return std::string(FailureName(result.failure)) + ", error " + Text(result.systemError);
}

// The component's calls after an open, in its order (OpenPort, ApplyPortSettings); the
// component ignores their results, but on this line every one must be accepted.
void SetUp(Verdict& v, ISerialDevice& device, const SerialLineSettings& settings) {
    v.Require(device.ApplyLineSettings(settings), "SetCommState refused");
    v.Require(device.Purge(true, true), "PurgeComm refused");
    v.Require(device.SetQueueSizes(settings.inBufSize, settings.outBufSize), "SetupComm refused");
    v.Require(device.SetReadTimeouts(), "SetCommTimeouts refused");
}

Device OpenLine(Verdict& v, const SerialLineSettings& settings = {}) {
    Device device = CreatePlatformSerialDevice();
    const OpenResult opened = device->Open("COM2");
    v.Require(opened.Opened(), "COM2 refused: " + Describe(opened));
    SetUp(v, *device, settings);
    return device;
}

struct Received {
    std::string bytes;
    int chunks = 0;
    ReadStatus status = ReadStatus::Ok;
};

// Reads as the component does until `wanted` bytes came, a read failed or `limitMs` passed.
Received ReadUntil(ISerialDevice& device, std::size_t wanted, double limitMs) {
    Received received;
    std::vector<char> buffer(kReadSize);
    const double end = NowMs() + limitMs;
    while (received.bytes.size() < wanted && NowMs() < end) {
        const ReadResult result = device.Read(buffer.data(), buffer.size());
        received.status = result.status;
        if (result.status != ReadStatus::Ok) break;
        if (result.count > 0) ++received.chunks;
        received.bytes.append(buffer.data(), result.count);
    }
    return received;
}

void Send(Verdict& v, const std::string& bytes) {
    v.Require(g_peer->SendBytes(bytes), "pty-peer did not take the bytes");
}

// Waits until the line holds exactly `count` unread bytes on the Linux side.
bool WaitPending(long count, double limitMs) {
    const double end = NowMs() + limitMs;
    for (;;) {
        const long pending = g_peer->Pending();
        if (pending == count) return true;
        if (pending < 0 || NowMs() > end) return false;
        ::Sleep(1);
    }
}

void ExpectReceived(Verdict& v, ISerialDevice& device, const std::string& sent) {
    const Received got = ReadUntil(device, sent.size(), 5000);
    v.Require(got.status == ReadStatus::Ok, "a read failed");
    v.Require(got.bytes == sent,
              "read \"" + Printable(got.bytes) + "\", sent \"" + Printable(sent) + "\"");
}

// --- open -------------------------------------------------------------------------------------

void OpensCom2(Verdict& v) {
    Device device = CreatePlatformSerialDevice();
    const OpenResult opened = device->Open("COM2");
    v.Require(opened.Opened(), "refused: " + Describe(opened));
    v.Require(device->IsOpen() && opened.device == "COM2", "not reported open as COM2");
}

void MissingCom3(Verdict& v) {
    Device device = CreatePlatformSerialDevice();
    const OpenResult opened = device->Open("COM3");
    v.Note(Describe(opened));
    v.Require(opened.failure == OpenFailure::MissingDevice, "expected MissingDevice");
    v.Require(!device->IsOpen(), "reported open");
}

void SecondOpenOfHeldPort(Verdict& v) {
    Device first = OpenLine(v);
    Device second = CreatePlatformSerialDevice();
    const OpenResult opened = second->Open("COM2");
    if (opened.Opened()) {
        v.Skip("Wine grants a second handle: its serial ports have no exclusive open");
    }
    v.Note(Describe(opened));
    v.Require(opened.failure == OpenFailure::Busy, "expected Busy");
}

// Open asks CreateFileA for exclusive access (share mode 0); Wine enforces that on files only.
void SecondOpenOfHeldFile(Verdict& v) {
    char directory[MAX_PATH];
    v.Require(::GetTempPathA(MAX_PATH, directory) > 0, "no temporary directory");
    const std::string path = std::string(directory) + "win32-layer-held.tmp";
    const HANDLE file =
        ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    v.Require(file != INVALID_HANDLE_VALUE, "cannot create " + path);
    ::CloseHandle(file);
    Device first = CreatePlatformSerialDevice();
    Device second = CreatePlatformSerialDevice();
    const bool firstOpened = first->Open(path).Opened();
    const OpenResult opened = second->Open(path);
    first->Close();
    second->Close();
    ::DeleteFileA(path.c_str());
    v.Require(firstOpened, "the first open failed");
    v.Note(Describe(opened));
    v.Require(opened.failure == OpenFailure::Busy, "expected Busy");
}

void CloseThenReopen(Verdict& v) {
    Device device = OpenLine(v);
    device->Close();
    char buffer[16];
    v.Require(!device->IsOpen(), "still open after Close");
    v.Require(device->Read(buffer, sizeof buffer).status == ReadStatus::Failed,
              "a closed device read without failing");
    const OpenResult reopened = device->Open("COM2");
    v.Require(reopened.Opened(), "reopen refused: " + Describe(reopened));
    SetUp(v, *device, {});
    Send(v, "after reopen\r\n");
    ExpectReceived(v, *device, "after reopen\r\n");
}

// --- read -------------------------------------------------------------------------------------

void EmptyReadReturnsAtOnce(Verdict& v) {
    Device device = OpenLine(v);
    v.Require(WaitPending(0, 1000), "the line is not idle");
    std::vector<double> times;
    char buffer[kReadSize];
    for (int i = 0; i < 21; ++i) {
        const double start = NowMs();
        const ReadResult result = device->Read(buffer, sizeof buffer);
        times.push_back(NowMs() - start);
        v.Require(result.status == ReadStatus::Ok && result.count == 0,
                  "read " + Text(i) + " gave " + Text(static_cast<long>(result.count)) + " bytes");
    }
    std::sort(times.begin(), times.end());
    char text[96];
    std::snprintf(text, sizeof text, "21 reads, min %.1f / median %.1f / max %.1f ms",
                  times.front(), times[times.size() / 2], times.back());
    v.Note(text);
    v.Require(times[times.size() / 2] < 100.0, "reads wait instead of returning");
}

void AllByteValuesInOrder(Verdict& v) {
    Device device = OpenLine(v);
    std::string sent;
    for (int value = 0; value < 256; ++value) sent += static_cast<char>(value);
    for (std::uint32_t x = 2463534242u; sent.size() < 8192;) {  // xorshift32: no period to hide in
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        sent += static_cast<char>(x >> 24);
    }
    Send(v, sent);
    const Received got = ReadUntil(*device, sent.size(), 10000);
    v.Note(Text(static_cast<long>(got.bytes.size())) + " bytes in " + Text(got.chunks) + " reads");
    v.Require(got.status == ReadStatus::Ok, "a read failed");
    const auto differ = std::mismatch(sent.begin(), sent.end(), got.bytes.begin(), got.bytes.end());
    v.Require(differ.first == sent.end() && differ.second == got.bytes.end(),
              "first difference at byte " + Text(static_cast<long>(differ.first - sent.begin())));
    v.Require(ReadUntil(*device, 1, 50).bytes.empty(), "more bytes came than were sent");
}

void PurgeDiscardsInput(Verdict& v) {
    Device device = OpenLine(v);
    Send(v, std::string(300, 'x'));
    v.Require(WaitPending(300, 5000), "the bytes never reached the terminal's queue");
    v.Require(device->Purge(true, false), "PurgeComm refused");
    v.Require(g_peer->Pending() == 0, "the terminal still holds input");
    Send(v, "fresh");
    ExpectReceived(v, *device, "fresh");
}

void PurgeOfOutputKeepsInput(Verdict& v) {
    Device device = OpenLine(v);
    const std::string kept = "kept\r\n0123456789";
    Send(v, kept);
    v.Require(WaitPending(static_cast<long>(kept.size()), 5000), "the bytes never arrived");
    v.Require(device->Purge(false, true), "PurgeComm refused");
    ExpectReceived(v, *device, kept);
}

// --- line settings ----------------------------------------------------------------------------

// Applies `settings` and returns the terminal's state after it.
std::map<std::string, long> Apply(Verdict& v, ISerialDevice& device,
                                  const SerialLineSettings& settings) {
    v.Require(device.ApplyLineSettings(settings), "SetCommState refused");
    std::map<std::string, long> line = g_peer->LineState();
    v.Require(!line.empty(), "pty-peer gave no terminal state");
    return line;
}

struct SpeedRow {
    decltype(SerialLineSettings::speed) speed;
    long bitsPerSecond;
};

const SpeedRow kSpeeds[] = {{br110, 110},      {br300, 300},     {br600, 600},     {br1200, 1200},
                            {br2400, 2400},    {br4800, 4800},   {br9600, 9600},   {br14400, 14400},
                            {br19200, 19200},  {br38400, 38400}, {br56000, 56000}, {br57600, 57600},
                            {br115200, 115200}};

// A different speed is set first, so a speed left over from earlier cannot pass for this one.
void SpeedReachesTerminal(Verdict& v, const SpeedRow& row) {
    Device device = OpenLine(v);
    SerialLineSettings settings;
    settings.speed = row.speed == br9600 ? br19200 : br9600;
    const long before = Apply(v, *device, settings)["ospeed"];
    v.Require(before == (row.speed == br9600 ? 19200 : 9600), "the contrast speed did not take");
    settings.speed = row.speed;
    std::map<std::string, long> line = Apply(v, *device, settings);
    v.Note("terminal " + Text(line["ispeed"]) + "/" + Text(line["ospeed"]));
    if ((row.bitsPerSecond == 14400 || row.bitsPerSecond == 56000) && line["ospeed"] == 38400) {
        v.Skip(
            "Wine sets only speeds that have a Bxxx constant; for this one it tries a serial "
            "driver's custom divisor, which a pseudo-terminal lacks, and leaves 38400 while "
            "SetCommState succeeds");
    }
    v.Require(line["ispeed"] == row.bitsPerSecond && line["ospeed"] == row.bitsPerSecond,
              "the terminal does not run at the chosen speed");
}

// What the kernel shows of a frame on a pseudo-terminal: it forces CS8 and clears PARENB on
// every change, so data bits and parity on/off are not visible; the rest is.
struct FrameRow {
    const char* name;
    void (*change)(SerialLineSettings&);
    int parodd, cmspar, cstopb, crtscts, ixon, ixoff;
};

const FrameRow kFrames[] = {
    {"8N1, no handshake", [](SerialLineSettings&) {}, 0, 0, 0, 0, 0, 0},
    {"odd parity", [](SerialLineSettings& s) { s.parity = ptODD; }, 1, 0, 0, 0, 0, 0},
    {"even parity", [](SerialLineSettings& s) { s.parity = ptEVEN; }, 0, 0, 0, 0, 0, 0},
    {"mark parity", [](SerialLineSettings& s) { s.parity = ptMARK; }, 1, 1, 0, 0, 0, 0},
    {"space parity", [](SerialLineSettings& s) { s.parity = ptSPACE; }, 0, 1, 0, 0, 0, 0},
    {"2 stop bits", [](SerialLineSettings& s) { s.stopBits = sb2BITS; }, 0, 0, 1, 0, 0, 0},
    {"1.5 stop bits, 5 data bits",
     [](SerialLineSettings& s) {
         s.stopBits = sb1HALFBITS;
         s.dataBits = db5BITS;
     },
     0, 0, 1, 0, 0, 0},
    {"RTS/CTS", [](SerialLineSettings& s) { s.hwHandshaking = hhRTSCTS; }, 0, 0, 0, 1, 0, 0},
    {"XON/XOFF", [](SerialLineSettings& s) { s.swHandshaking = shXONXOFF; }, 0, 0, 0, 0, 1, 1},
};

void ExpectFlags(Verdict& v, std::map<std::string, long>& line,
                 std::initializer_list<std::pair<const char*, int>> expected, const char* when) {
    for (const auto& [field, value] : expected) {
        v.Require(line[field] == value, std::string(when) + field + " is " + Text(line[field]));
    }
}

// Every flag is first set the other way for at least one field, so each row shows a change.
void FrameReachesTerminal(Verdict& v, const FrameRow& row) {
    Device device = OpenLine(v);
    const SerialLineSettings contrast{br9600,    db8BITS, sb2BITS, ptMARK, hhRTSCTS,
                                      shXONXOFF, true,    2048,    2048};
    std::map<std::string, long> line = Apply(v, *device, contrast);
    ExpectFlags(
        v, line,
        {{"parodd", 1}, {"cmspar", 1}, {"cstopb", 1}, {"crtscts", 1}, {"ixon", 1}, {"ixoff", 1}},
        "with mark, 2 stop bits, RTS/CTS and XON/XOFF first, ");
    SerialLineSettings settings;
    row.change(settings);
    line = Apply(v, *device, settings);
    ExpectFlags(v, line,
                {{"parodd", row.parodd},
                 {"cmspar", row.cmspar},
                 {"cstopb", row.cstopb},
                 {"crtscts", row.crtscts},
                 {"ixon", row.ixon},
                 {"ixoff", row.ixoff},
                 {"icanon", 0},
                 {"echo", 0}},
                "");
}

// --- loss -------------------------------------------------------------------------------------

void LossIsReported(Verdict& v) {
    Device device = OpenLine(v);
    std::string answer;
    v.Require(g_peer->Ask("hangup", answer), "pty-peer did not hang up");
    char buffer[kReadSize];
    ReadResult result;
    DWORD error = 0;
    int reads = 0;
    const double end = NowMs() + 2000;
    do {
        result = device->Read(buffer, sizeof buffer);
        error = ::GetLastError();
        ++reads;
    } while (result.status == ReadStatus::Ok && NowMs() < end);
    v.Note("Win32 error " + Text(static_cast<long>(error)) + " at read " + Text(reads));
    v.Require(result.status == ReadStatus::Lost, "the loss was not reported as Lost");
    for (int i = 0; i < 3; ++i) {
        v.Require(device->Read(buffer, sizeof buffer).status == ReadStatus::Lost,
                  "a read after the loss did not report Lost");
    }
}

void ReopenWhileGone(Verdict& v) {
    Device device = CreatePlatformSerialDevice();
    const OpenResult opened = device->Open("COM2");
    v.Note(Describe(opened));
    v.Require(opened.failure == OpenFailure::MissingDevice, "expected MissingDevice");
}

void ReopenWhenBack(Verdict& v) {
    std::string answer;
    v.Require(g_peer->Ask("renew", answer), "pty-peer made no new terminal");
    Device device = OpenLine(v);
    Send(v, "back\r\n");
    ExpectReceived(v, *device, "back\r\n");
}

// --- error codes ------------------------------------------------------------------------------

// A driver ends a request with an NTSTATUS; ReadFile and CreateFileA report it as the Win32 code
// the system's own table gives, so the layer's numbers are checked against that table.
struct StatusRow {
    const char* name;
    unsigned long status;
};

void RemovalStatusesAreLoss(Verdict& v) {
    // What drivers complete requests with once their device is surprise-removed or stopped.
    const StatusRow removal[] = {{"STATUS_DELETE_PENDING", 0xC0000056},
                                 {"STATUS_NO_SUCH_DEVICE", 0xC000000E},
                                 {"STATUS_DEVICE_REMOVED", 0xC00002B6},
                                 {"STATUS_DEVICE_NOT_CONNECTED", 0xC000009D},
                                 {"STATUS_INVALID_DEVICE_STATE", 0xC0000184},
                                 {"STATUS_DEVICE_NOT_READY", 0xC00000A3},
                                 {"STATUS_CANCELLED", 0xC0000120},
                                 {"STATUS_UNSUCCESSFUL", 0xC0000001}};
    for (const StatusRow& row : removal) {
        const ULONG code = ::RtlNtStatusToDosError(static_cast<NTSTATUS>(row.status));
        v.Require(IsWin32DeviceGoneError(code),
                  std::string(row.name) + " reaches ReadFile as " + Text(code) + ", not Lost");
    }
}

void OpenStatusesGiveTheirCause(Verdict& v) {
    const std::pair<StatusRow, OpenFailure> rows[] = {
        {{"STATUS_OBJECT_NAME_NOT_FOUND", 0xC0000034}, OpenFailure::MissingDevice},
        {{"STATUS_OBJECT_PATH_NOT_FOUND", 0xC000003A}, OpenFailure::MissingDevice},
        {{"STATUS_NO_SUCH_DEVICE", 0xC000000E}, OpenFailure::MissingDevice},
        {{"STATUS_ACCESS_DENIED", 0xC0000022}, OpenFailure::Busy},
        {{"STATUS_SHARING_VIOLATION", 0xC0000043}, OpenFailure::Busy}};
    for (const auto& [row, cause] : rows) {
        const ULONG code = ::RtlNtStatusToDosError(static_cast<NTSTATUS>(row.status));
        v.Require(OpenFailureFromWin32Error(code) == cause,
                  std::string(row.name) + " (" + Text(code) + ") is not " + FailureName(cause));
    }
}

}  // namespace

void RunErrorChecks(Tally& tally) {
    const Check errors[] = {{"a removed device's statuses read as Lost", RemovalStatusesAreLoss},
                            {"open statuses give their cause", OpenStatusesGiveTheirCause}};
    RunChecks("errors", errors, tally);
}

void RunSerialChecks(PeerLink& peer, Tally& tally) {
    g_peer = &peer;
    const Check open[] = {{"COM2 opens", OpensCom2},
                          {"missing COM3 is refused as MissingDevice", MissingCom3},
                          {"second open of held COM2 is refused as Busy", SecondOpenOfHeldPort},
                          {"second open of a held file is refused as Busy", SecondOpenOfHeldFile},
                          {"close, then reopen: data flows again", CloseThenReopen}};
    RunChecks("open", open, tally);
    const Check read[] = {
        {"empty queue: read returns at once with 0 bytes", EmptyReadReturnsAtOnce},
        {"8 KB with every byte value arrive in order, none lost", AllByteValuesInOrder},
        {"purge of input discards pending bytes", PurgeDiscardsInput},
        {"purge of output keeps pending input", PurgeOfOutputKeepsInput}};
    RunChecks("read", read, tally);
    std::vector<Check> settings;
    for (const SpeedRow& row : kSpeeds) {
        settings.push_back({"speed " + Text(row.bitsPerSecond),
                            [&row](Verdict& v) { SpeedReachesTerminal(v, row); }});
    }
    for (const FrameRow& row : kFrames) {
        settings.push_back({std::string("frame ") + row.name,
                            [&row](Verdict& v) { FrameReachesTerminal(v, row); }});
    }
    RunChecks("settings", settings, tally);
    const Check loss[] = {{"master closed: read reports Lost", LossIsReported},
                          {"reopen while the line is gone fails as MissingDevice", ReopenWhileGone},
                          {"line back: reopen works and data flows", ReopenWhenBack}};
    RunChecks("loss", loss, tally);
}
