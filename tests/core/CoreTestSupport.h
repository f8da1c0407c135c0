#pragma once
// Shared helpers of the core tests: a recording environment for ProcessLine and temp folders.

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "LineRouting.h"
#include "TestSupport.h"

// Keeps the report view as a list of lines and logs every call in order, so tests can check
// both the outcome and the sequence (for example: recording unchecked before the error box).
class FakeLineEnvironment : public ILineEnvironment {
  public:
    std::string readout = "previous";
    std::vector<std::string> report;
    bool showReadings = false;
    bool recording = true;
    bool recordReadings = false;
    bool deleteOldest = true;
    std::int32_t maxLines = 300;
    std::string fileName;
    char separator = ',';
    std::vector<std::string> calls;
    std::vector<std::string> errorBoxes;
    std::function<void()> whileErrorBoxOpen;

    void SetReadout(const Win1250Text& text) override {
        readout = text.Bytes();
        calls.push_back("readout:" + text.Bytes());
    }
    int ReportLineCount() const override { return static_cast<int>(report.size()); }
    void DeleteFirstReportLine() override {
        report.erase(report.begin());
        calls.push_back("delete-first");
    }
    void ClearReport() override {
        report.clear();
        calls.push_back("clear");
    }
    void AppendReportLine(const Win1250Text& line) override {
        report.push_back(line.Bytes());
        calls.push_back("report:" + line.Bytes());
    }
    bool ShowReadingsChecked() const override { return showReadings; }
    bool RecordingChecked() const override { return recording; }
    bool RecordReadingsChecked() const override { return recordReadings; }
    bool DeleteOldestSelected() const override { return deleteOldest; }
    void UncheckRecording() override {
        recording = false;
        calls.push_back("uncheck");
    }
    std::int32_t MaxReportLines() const override { return maxLines; }
    std::string RecordingFileName() const override { return fileName; }
    RecordingWriter& RecordingOutput() override { return writer; }
    RecordingWriter writer;
    void ShowError(const std::string& text) override {
        errorBoxes.push_back(text);
        calls.push_back("error-box");
        if (whileErrorBoxOpen) whileErrorBoxOpen();
    }
    ConfirmAnswer AskConfirmation(const std::string&) override { return ConfirmAnswer::No; }
    char DecimalSeparator() const override { return separator; }
};

using waga::test::ReadFile;
using waga::test::TempDir;
using waga::test::WriteFile;

// Routes one line given as bytes, as the only line of a received chunk (the recording file is
// closed afterwards, as the window does at the end of a chunk).
inline void ProcessBytes(const std::string& bytes, FakeLineEnvironment& env) {
    ProcessLine(Win1250Text(bytes), env);
    env.writer.Close();
}

// A short printable form of a byte string for test names and messages.
inline std::string Escaped(const std::string& bytes) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < bytes.size() && i < 32; ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b >= 0x21 && b < 0x7F && b != '\\') {
            out.push_back(static_cast<char>(b));
        } else {
            out += "\\x";
            out.push_back(kHex[b >> 4]);
            out.push_back(kHex[b & 15]);
        }
    }
    if (bytes.size() > 32) out += "..(" + std::to_string(bytes.size()) + " bytes)";
    return out.empty() ? "(empty)" : out;
}
