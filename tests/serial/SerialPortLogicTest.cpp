// SerialPort's rules over a recording device: what it asks of the device and when.
#include <gtest/gtest.h>

#include <deque>

#include "SerialDevice.h"
#include "SerialPort.h"
#include "TestSupport.h"
#include "TickCounter.h"

using namespace std::chrono_literals;

namespace {

struct DeviceLog {
    std::vector<std::string> calls;
    std::vector<SerialLineSettings> applied;
    std::vector<std::size_t> readSizes;
    std::deque<std::optional<std::string>> reads;  // scripted results; empty = 0 bytes
    std::size_t lostFromRead = 0;                  // reads from this one on (1-based) are Lost
    bool refuseOpen = false;
    bool destroyed = false;
    bool openWhenDestroyed = false;
};

class RecordingDevice final : public ISerialDevice {
  public:
    explicit RecordingDevice(DeviceLog& log) : log_(log) {}
    ~RecordingDevice() override {
        log_.destroyed = true;
        log_.openWhenDestroyed = open_;
    }
    OpenResult Open(const std::string& name) override {
        log_.calls.push_back("Open " + name);
        open_ = !log_.refuseOpen;
        return {open_ ? OpenFailure::None : OpenFailure::MissingDevice, 0, name};
    }
    bool IsOpen() const override { return open_; }
    bool ApplyLineSettings(const SerialLineSettings& s) override {
        log_.calls.push_back("Apply");
        log_.applied.push_back(s);
        return true;
    }
    bool SetQueueSizes(std::uint16_t in, std::uint16_t out) override {
        log_.calls.push_back("Queues " + std::to_string(in) + " " + std::to_string(out));
        return true;
    }
    bool SetReadTimeouts() override {
        log_.calls.push_back("Timeouts");
        return true;
    }
    bool Purge(bool in, bool out) override {
        log_.calls.push_back(std::string("Purge ") + (in ? "in" : "-") + (out ? "out" : "-"));
        return true;
    }
    ReadResult Read(char* buffer, std::size_t max) override {
        log_.readSizes.push_back(max);
        if (log_.lostFromRead != 0 && log_.readSizes.size() >= log_.lostFromRead)
            return {ReadStatus::Lost, 0};
        if (log_.reads.empty()) return {ReadStatus::Ok, 0};
        std::optional<std::string> next = log_.reads.front();
        log_.reads.pop_front();
        if (!next) return {ReadStatus::Failed, 0};
        const std::size_t n = std::min(max, next->size());
        std::copy_n(next->data(), n, buffer);
        return {ReadStatus::Ok, n};
    }
    int WaitableDescriptor() const override { return -1; }
    bool Present(const std::string&) const override { return true; }
    void Close() override {
        log_.calls.push_back("Close");
        open_ = false;
    }

  private:
    DeviceLog& log_;
    bool open_ = false;
};

class SerialPortLogicTest : public ::testing::Test {
  protected:
    DeviceLog log_;
    std::unique_ptr<SerialPort> driver_ =
        std::make_unique<SerialPort>(nullptr, std::make_unique<RecordingDevice>(log_));
    std::vector<std::string> received_;

    void Listen() {
        QObject::connect(driver_.get(), &SerialPort::dataReceived,
                         [this](const char* data, int size) {
                             received_.emplace_back(data, static_cast<std::size_t>(size));
                         });
    }
};

TEST_F(SerialPortLogicTest, DefaultsOfANewComponent) {
    EXPECT_FALSE(driver_->IsPortOpen());
    EXPECT_EQ(driver_->ComPort(), pnCOM2);
    EXPECT_EQ(driver_->ComPortSpeed(), br9600);
    EXPECT_EQ(driver_->LineSettings().dataBits, db8BITS);
    EXPECT_EQ(driver_->LineSettings().stopBits, sb1BITS);
    EXPECT_EQ(driver_->LineSettings().parity, ptNONE);
    EXPECT_EQ(driver_->LineSettings().hwHandshaking, hhNONE);
    EXPECT_EQ(driver_->LineSettings().swHandshaking, shNONE);
    EXPECT_EQ(driver_->ComPortInBufSize(), 2048);
    EXPECT_EQ(driver_->LineSettings().outBufSize, 2048);
    EXPECT_EQ(driver_->ComPortPollingDelay(), 50);
    EXPECT_TRUE(driver_->LineSettings().enableDtr);
    EXPECT_EQ(driver_->OutputTimeout(), 4000);
    EXPECT_TRUE(log_.calls.empty());
}

TEST_F(SerialPortLogicTest, OpenAppliesPurgesSizesQueuesThenPolls) {
    driver_->SetComPort(pnCOM3);
    driver_->SetComPortOutBufSize(1000);
    ASSERT_TRUE(driver_->OpenPort());
    const std::vector<std::string> expected = {"Open COM3", "Apply", "Purge inout",
                                               "Queues 2048 1000", "Timeouts"};
    EXPECT_EQ(log_.calls, expected);
    // Open while open: nothing reopened or re-applied.
    EXPECT_TRUE(driver_->OpenPort());
    EXPECT_EQ(log_.calls, expected);
    TickCounter ticks(driver_.get());
    EXPECT_TRUE(waga::test::RunEventsUntil([&] { return ticks.Ticks() >= 2; }));
}

TEST_F(SerialPortLogicTest, FailedOpenLeavesItClosedWithoutTimer) {
    log_.refuseOpen = true;
    TickCounter ticks(driver_.get());
    EXPECT_FALSE(driver_->OpenPort());
    EXPECT_FALSE(driver_->IsPortOpen());
    driver_->ClosePort();
    driver_->ApplyPortSettings();
    driver_->PurgeBuffers(true, true);
    waga::test::RunEvents(200ms);
    EXPECT_EQ(ticks.Ticks(), 0);
    EXPECT_EQ(log_.calls, std::vector<std::string>{"Open COM2"});
}

TEST_F(SerialPortLogicTest, LineSettingsWhileOpenAreAppliedAtOnce) {
    ASSERT_TRUE(driver_->OpenPort());
    log_.calls.clear();
    const std::vector<std::function<void()>> changes = {
        [&] { driver_->SetComPortSpeed(br56000); },
        [&] { driver_->SetComPortDataBits(db7BITS); },
        [&] { driver_->SetComPortStopBits(sb2BITS); },
        [&] { driver_->SetComPortParity(ptMARK); },
        [&] { driver_->SetComPortHwHandshaking(hhRTSCTS); },
        [&] { driver_->SetComPortSwHandshaking(shXONXOFF); },
    };
    for (const auto& change : changes) change();
    EXPECT_EQ(log_.applied.size(), 7u);  // the open plus one per change
    const SerialLineSettings& last = log_.applied.back();
    EXPECT_EQ(last.speed, br56000);
    EXPECT_EQ(last.dataBits, db7BITS);
    EXPECT_EQ(last.stopBits, sb2BITS);
    EXPECT_EQ(last.parity, ptMARK);
    EXPECT_EQ(last.hwHandshaking, hhRTSCTS);
    EXPECT_EQ(last.swHandshaking, shXONXOFF);
    EXPECT_EQ(std::count(log_.calls.begin(), log_.calls.end(), "Purge inout"), 6);

    // DTR and output timeout are stored without touching the device.
    log_.calls.clear();
    driver_->SetEnableDTROnOpen(false);
    driver_->SetOutputTimeout(1);
    EXPECT_TRUE(log_.calls.empty());
    driver_->ApplyPortSettings();
    EXPECT_FALSE(log_.applied.back().enableDtr);
}

TEST_F(SerialPortLogicTest, PortAndBufferSizeIgnoredWhileOpenStoredWhileClosed) {
    ASSERT_TRUE(driver_->OpenPort());
    driver_->SetComPort(pnCOM4);
    driver_->SetComPortInBufSize(4096);
    EXPECT_EQ(driver_->ComPort(), pnCOM2);
    EXPECT_EQ(driver_->ComPortInBufSize(), 2048);
    ASSERT_TRUE(waga::test::RunEventsUntil([&] { return !log_.readSizes.empty(); }));
    EXPECT_EQ(log_.readSizes.back(), 2048u);

    driver_->ClosePort();
    driver_->SetComPort(pnCOM4);
    driver_->SetComPortInBufSize(4096);
    EXPECT_EQ(driver_->ComPort(), pnCOM4);
    ASSERT_TRUE(driver_->OpenPort());
    EXPECT_EQ(log_.calls[log_.calls.size() - 5], "Open COM4");
    log_.readSizes.clear();
    log_.reads.push_back(std::string(5000, 'x'));
    Listen();
    ASSERT_TRUE(waga::test::RunEventsUntil([&] { return !received_.empty(); }));
    EXPECT_EQ(log_.readSizes.front(), 4096u);
    EXPECT_EQ(received_.front().size(), 4096u);
}

// Values outside an enumeration are refused like any other refused assignment.
TEST_F(SerialPortLogicTest, OutOfRangeEnumerationValuesAreIgnored) {
    driver_->SetComPort(static_cast<PortNumber>(4));
    driver_->SetComPortSpeed(static_cast<BaudRate>(13));
    driver_->SetComPortDataBits(static_cast<DataBits>(4));
    driver_->SetComPortStopBits(static_cast<StopBits>(3));
    driver_->SetComPortParity(static_cast<Parity>(5));
    driver_->SetComPortHwHandshaking(static_cast<HwHandshaking>(2));
    driver_->SetComPortSwHandshaking(static_cast<SwHandshaking>(255));
    EXPECT_EQ(driver_->ComPort(), pnCOM2);
    EXPECT_EQ(driver_->ComPortSpeed(), br9600);
    EXPECT_EQ(driver_->LineSettings().dataBits, db8BITS);
    EXPECT_EQ(driver_->LineSettings().stopBits, sb1BITS);
    EXPECT_EQ(driver_->LineSettings().parity, ptNONE);
    EXPECT_EQ(driver_->LineSettings().hwHandshaking, hhNONE);
    EXPECT_EQ(driver_->LineSettings().swHandshaking, shNONE);
    driver_->SetComPortSpeed(br115200);
    EXPECT_EQ(driver_->ComPortSpeed(), br115200);
}

TEST_F(SerialPortLogicTest, FailedAndEmptyReadsRaiseNothingAndPollingGoesOn) {
    log_.reads = {std::nullopt, std::string(), std::nullopt, std::string("ab")};
    Listen();
    ASSERT_TRUE(driver_->OpenPort());
    ASSERT_TRUE(waga::test::RunEventsUntil([&] { return !received_.empty(); }));
    EXPECT_EQ(received_, std::vector<std::string>{"ab"});
    EXPECT_GE(log_.readSizes.size(), 4u);
    const std::size_t reads = log_.readSizes.size();
    EXPECT_TRUE(waga::test::RunEventsUntil([&] { return log_.readSizes.size() > reads + 2; }));
    EXPECT_EQ(received_.size(), 1u);
}

// On the timer path too (Windows): a lost port raises the loss event once and is read no more.
TEST_F(SerialPortLogicTest, ALostPortIsReportedOnceAndReadNoMore) {
    log_.reads = {std::string("ab")};
    log_.lostFromRead = 2;
    Listen();
    int losses = 0;
    QObject::connect(driver_.get(), &SerialPort::portLost, [&] { ++losses; });
    ASSERT_TRUE(driver_->OpenPort());
    ASSERT_TRUE(waga::test::RunEventsUntil([&] { return losses > 0; }));
    const std::size_t reads = log_.readSizes.size();
    waga::test::RunEvents(200ms);
    EXPECT_EQ(losses, 1);
    EXPECT_EQ(log_.readSizes.size(), reads);
    EXPECT_EQ(received_, std::vector<std::string>{"ab"});
    EXPECT_TRUE(driver_->IsPortOpen());  // closing is the owner's decision
}

TEST_F(SerialPortLogicTest, NewPollingDelayRestartsTheTimer) {
    ASSERT_TRUE(driver_->OpenPort());
    ASSERT_TRUE(waga::test::RunEventsUntil([&] { return log_.readSizes.size() >= 2; }));
    driver_->SetComPortPollingDelay(1000);
    const std::size_t reads = log_.readSizes.size();
    waga::test::RunEvents(400ms);  // the restarted timer's first tick is a second away
    EXPECT_EQ(log_.readSizes.size(), reads);
    EXPECT_TRUE(waga::test::RunEventsUntil([&] { return log_.readSizes.size() > reads; }, 5s));
    EXPECT_EQ(driver_->ComPortPollingDelay(), 1000);

    driver_->ClosePort();
    driver_->SetComPortPollingDelay(20);  // stored while closed, no timer started
    const std::size_t closedReads = log_.readSizes.size();
    waga::test::RunEvents(100ms);
    EXPECT_EQ(log_.readSizes.size(), closedReads);
}

TEST_F(SerialPortLogicTest, DestroyingAnOpenComponentClosesThePort) {
    ASSERT_TRUE(driver_->OpenPort());
    driver_.reset();
    EXPECT_TRUE(log_.destroyed);
    EXPECT_FALSE(log_.openWhenDestroyed);
    EXPECT_EQ(log_.calls.back(), "Close");
}

TEST_F(SerialPortLogicTest, OwnerDestroysTheComponent) {
    DeviceLog log;
    {
        QObject owner;
        auto* driver = new SerialPort(&owner, std::make_unique<RecordingDevice>(log));
        EXPECT_EQ(driver->parent(), &owner);
        ASSERT_TRUE(driver->OpenPort());
    }
    EXPECT_TRUE(log.destroyed);
    EXPECT_FALSE(log.openWhenDestroyed);
}

}  // namespace
