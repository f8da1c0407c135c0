#include "ScaleContent.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>

namespace {

// Windows-1250 codes of the Polish letters (UTF-8 on the left).
const std::map<std::string, char>& PolishLetters() {
    static const std::map<std::string, char> table = {
        {"ą", '\xB9'}, {"ć", '\xE6'}, {"ę", '\xEA'}, {"ł", '\xB3'}, {"ń", '\xF1'}, {"ó", '\xF3'},
        {"ś", '\x9C'}, {"ź", '\x9F'}, {"ż", '\xBF'}, {"Ą", '\xA5'}, {"Ć", '\xC6'}, {"Ę", '\xCA'},
        {"Ł", '\xA3'}, {"Ń", '\xD1'}, {"Ó", '\xD3'}, {"Ś", '\x8C'}, {"Ź", '\x8F'}, {"Ż", '\xAF'},
    };
    return table;
}

// `value` with two decimals after a dot, right-aligned in `width` characters, in every locale
// (printf's %f would take the locale's separator).
std::string Fixed2(double value, std::size_t width) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 2);
    std::string out(text, result.ptr);
    if (out.size() < width) out.insert(0, width - out.size(), ' ');
    return out;
}

// A reading's text (spaces around a number with a dot) as its value.
double ReadingValue(const std::string& reading) {
    const std::size_t first = reading.find_first_not_of(' ');
    double value = 0;
    if (first != std::string::npos)
        std::from_chars(reading.data() + first, reading.data() + reading.size(), value);
    return value;
}

std::string Clock(double seconds) {
    const long total = 8 * 3600 + static_cast<long>(seconds);
    char text[16];
    std::snprintf(text, sizeof text, "%02ld:%02ld:%02ld", (total / 3600) % 24, (total / 60) % 60,
                  total % 60);
    return text;
}

}  // namespace

std::string PolishToCp1250(const std::string& utf8) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        const auto letter = PolishLetters().find(utf8.substr(i, 2));
        out += letter != PolishLetters().end() ? letter->second : '?';
        i += 2;
    }
    return out;
}

WeightModel::WeightModel(std::uint64_t seed) : random_(seed) {}

std::string WeightModel::NextReading(bool& settledNow) {
    settledNow = false;
    if (current_ == target_ && ++stableReadings_ >= holdReadings_) {
        // The load is taken off, or a new one is put on (in steps of the 0.02 kg division).
        std::uniform_int_distribution<int> load(25, 7500);
        target_ = current_ != 0 ? 0 : load(random_) * 0.02;
        stableReadings_ = 0;
        holdReadings_ = 6 + static_cast<int>(random_() % 15);
    }
    if (current_ != target_) {
        const double gap = target_ - current_;
        std::uniform_real_distribution<double> wobble(-0.15, 0.15);
        current_ += gap * (0.55 + wobble(random_));
        if (std::abs(target_ - current_) < 0.03) {
            current_ = target_;
            settledNow = target_ != 0;
        }
    }
    const double shown = std::max(0.0, std::round(current_ * 50) / 50);
    return Fixed2(shown, 6);
}

ScaleContent::ScaleContent(const SimOptions& options)
    : mode_(options.mode),
      crOnly_(options.crOnly),
      reportEvery_(options.reportEvery),
      nextReport_(options.reportEvery),
      random_(options.seed * 7919 + 1),
      weight_(options.seed),
      lines_(options.lines) {}

SimLine ScaleContent::NextLine(double lineTime) {
    if (mode_ == SimMode::Short) {
        return {std::to_string(++shortCounter_ % 10) + End(), false};
    }
    if (mode_ == SimMode::Digits) return {std::to_string(random_() % 10) + End(), false};
    if (mode_ == SimMode::Lines) {
        return {lines_.empty() ? End() : lines_[shortCounter_++ % lines_.size()] + End(), false};
    }
    if (pendingReport_.empty() && reportEvery_ > 0 && lineTime >= nextReport_) {
        StartReport(lineTime);
        while (nextReport_ <= lineTime) nextReport_ += reportEvery_;
    }
    if (!pendingReport_.empty()) {
        std::string line = pendingReport_.front();
        pendingReport_.erase(pendingReport_.begin());
        return {line + End(), true};
    }
    if (mode_ == SimMode::Mixed && random_() % 5 == 0) return {NoiseLine() + End(), false};
    bool settled = false;
    std::string reading = weight_.NextReading(settled);
    if (settled) weighings_.push_back(ReadingValue(reading));
    return {reading + End(), false};
}

void ScaleContent::StartReport(double lineTime) {
    ++reportNumber_;
    double total = 0;
    std::vector<std::string> lines = {
        "================================",
        PolishToCp1250("      RAPORT WAŻENIA nr " + std::to_string(reportNumber_)),
        PolishToCp1250("Waga: VEK-150   Dział: 0,02 kg"),
        "Data: 2024-01-15   Godz.: " + Clock(lineTime),
        "--------------------------------",
        PolishToCp1250("Lp.   Masa netto [kg]"),
    };
    for (std::size_t i = 0; i < weighings_.size(); ++i) {
        char number[24];
        std::snprintf(number, sizeof number, "%3zu.  ", i + 1);
        lines.push_back(number + Fixed2(weighings_[i], 12));
        total += weighings_[i];
    }
    if (weighings_.empty()) lines.push_back(PolishToCp1250("  (brak ważeń)"));
    lines.push_back("--------------------------------");
    lines.push_back(PolishToCp1250("Liczba ważeń: ") + std::to_string(weighings_.size()));
    lines.push_back(PolishToCp1250("SUMA:       ") + Fixed2(total, 12) + " kg");
    lines.push_back(PolishToCp1250("Podpis ważącego: ............"));
    lines.push_back("");
    weighings_.clear();
    pendingReport_ = std::move(lines);
}

// Arbitrary bytes of any value but CR and LF, from empty to a few kilobytes long.
std::string ScaleContent::NoiseLine() {
    const std::size_t length = random_() % 8 == 0 ? random_() % 4000 : random_() % 80;
    std::string line(length, '\0');
    for (char& c : line) {
        do {
            c = static_cast<char>(random_() & 0xff);
        } while (c == '\r' || c == '\n');
    }
    return line;
}
