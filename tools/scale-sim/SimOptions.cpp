#include "SimOptions.h"

#include <charconv>
#include <cmath>
#include <functional>
#include <map>

namespace {

bool ParseNumber(const std::string& text, double& out) {
    // from_chars reads a dot as the separator in every locale.
    double v = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, v);
    if (text.empty() || ec != std::errc() || ptr != end || !std::isfinite(v) || v < 0) return false;
    out = v;
    return true;
}

template <typename T>
bool ParseUnsigned(const std::string& text, T& out) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, out);
    return !text.empty() && ec == std::errc() && ptr == end;
}

using ValueSetter = std::function<bool(SimOptions&, const std::string&)>;
using FlagSetter = std::function<void(SimOptions&)>;

const std::map<std::string, ValueSetter>& ValueOptions() {
    static const std::map<std::string, ValueSetter> table = {
        {"--link",
         [](SimOptions& o, const std::string& v) {
             o.link = v;
             return !v.empty();
         }},
        {"--rate", [](SimOptions& o, const std::string& v) { return ParseNumber(v, o.rate); }},
        {"--baud",
         [](SimOptions& o, const std::string& v) { return ParseUnsigned(v, o.baud) && o.baud; }},
        {"--count", [](SimOptions& o, const std::string& v) { return ParseUnsigned(v, o.count); }},
        {"--duration",
         [](SimOptions& o, const std::string& v) { return ParseNumber(v, o.duration); }},
        {"--report-every",
         [](SimOptions& o, const std::string& v) { return ParseNumber(v, o.reportEvery); }},
        {"--delay",
         [](SimOptions& o, const std::string& v) { return ParseNumber(v, o.startDelay); }},
        {"--drain-timeout",
         [](SimOptions& o, const std::string& v) { return ParseNumber(v, o.drainTimeout); }},
        {"--seed", [](SimOptions& o, const std::string& v) { return ParseUnsigned(v, o.seed); }},
        {"--pace",
         [](SimOptions& o, const std::string& v) {
             o.millisecondPacing = v == "ms";
             o.burstPacing = v == "burst";
             return v == "ms" || v == "line" || v == "burst";
         }},
        {"--log",
         [](SimOptions& o, const std::string& v) {
             o.logPath = v;
             return !v.empty();
         }},
        {"--lines",
         [](SimOptions& o, const std::string& v) {
             o.linesPath = v;
             o.mode = SimMode::Lines;
             return !v.empty();
         }},
        {"--timestamps",
         [](SimOptions& o, const std::string& v) {
             o.timestampsPath = v;
             return !v.empty();
         }},
    };
    return table;
}

const std::map<std::string, FlagSetter>& FlagOptions() {
    static const std::map<std::string, FlagSetter> table = {
        {"--wait-open", [](SimOptions& o) { o.waitOpen = true; }},
        {"--cr-only", [](SimOptions& o) { o.crOnly = true; }},
        {"--short", [](SimOptions& o) { o.mode = SimMode::Short; }},
        {"--digits", [](SimOptions& o) { o.mode = SimMode::Digits; }},
        {"--mixed", [](SimOptions& o) { o.mode = SimMode::Mixed; }},
        {"--quiet", [](SimOptions& o) { o.quiet = true; }},
        {"--help", [](SimOptions& o) { o.help = true; }},
        {"-h", [](SimOptions& o) { o.help = true; }},
    };
    return table;
}

}  // namespace

ParseResult ParseSimOptions(const std::vector<std::string>& args) {
    SimOptions options;
    bool rateGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> value;
        if (const auto eq = name.find('='); eq != std::string::npos && name.rfind("--", 0) == 0) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        if (const auto flag = FlagOptions().find(name); flag != FlagOptions().end()) {
            if (value) return {std::nullopt, name + " takes no value"};
            flag->second(options);
            continue;
        }
        const auto setter = ValueOptions().find(name);
        if (setter == ValueOptions().end()) return {std::nullopt, "unknown option " + name};
        if (!value) {
            if (i + 1 >= args.size()) return {std::nullopt, name + " needs a value"};
            value = args[++i];
        }
        if (!setter->second(options, *value)) {
            return {std::nullopt, "bad value for " + name + ": " + *value};
        }
        rateGiven = rateGiven || name == "--rate";
    }
    // With a line speed and no rate the line speed alone paces the lines.
    if (options.baud != 0 && !rateGiven) options.rate = 0;
    return {options, {}};
}

std::string SimUsage() {
    return R"(Usage: scale-sim [options]
Simulates a weighing scale on a pseudo-terminal whose device is linked at a path.
Sends weight readings such as " 12.50" that drift and settle, and every few seconds a
weighing report in Polish (Windows-1250). Stops on SIGTERM or SIGINT, removing the link.

  --link PATH          where to link the terminal device (default ./COM2)
  --rate N             lines per second, 0 = as fast as possible (default 4)
  --baud B             pace every line as a B bit/s line would (10 bits a byte);
                       without --rate this alone sets the pace
  --count N            stop after N lines (default: no limit)
  --duration S         stop after S seconds of sending (default: no limit)
  --report-every S     a weighing report every S seconds of line time, 0 = none (default 5)
  --short              send short lines "1", "2", ... "0" instead of readings and reports
  --digits             send lines of one random digit, "0" to "9" alike
  --mixed              readings, reports and lines of arbitrary bytes (never CR or LF)
  --lines FILE         send the lines of FILE (UTF-8; Polish letters go out in
                       Windows-1250) once each, instead of readings, then stop
  --cr-only            end lines with CR alone (default CR LF)
  --pace line|ms|burst line: every line written on its own at its time, to the
                       microsecond, as a UART delivers them (default); ms: waits
                       rounded up to whole milliseconds, so at fast rates the lines
                       due meanwhile go out together, about every millisecond;
                       burst: every 5 ms the lines due by then in one write
  --seed N             seed of the weights and arbitrary lines (default 1)
  --wait-open          send only while a program holds the port open
  --delay S            wait S seconds before the first line
  --drain-timeout S    at the end, wait up to S seconds for the reader to take
                       everything (default 10); stopped by a signal, at most 3 s and
                       only while a program holds the port
  --log FILE           write every byte sent to FILE
  --timestamps FILE    for each line: "index monotonic_ns realtime_ns" when its CR was sent
  --quiet              print nothing (otherwise one summary line at exit)
  --help               this text
  --version            the version and the SHA-256 of this program's file
)";
}
