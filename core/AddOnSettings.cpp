#include "AddOnSettings.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <system_error>
#include <vector>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

std::string_view Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

bool ParseInt(std::string_view text, long long low, long long high, int& out) {
    if (text.empty() || text.size() > 12) return false;
    long long value = 0;
    std::size_t i = 0;
    const bool negative = text[0] == '-';
    if (negative) ++i;
    if (i == text.size()) return false;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    if (negative) value = -value;
    if (value < low || value > high) return false;
    out = static_cast<int>(value);
    return true;
}

bool ParseFlag(std::string_view text, bool& out) {
    if (text == "1") return out = true, true;
    if (text == "0") return out = false, true;
    return false;
}

// One row per key: its section, its name, how it is read and how it is written.
struct KeyRow {
    std::string_view section;
    std::string_view key;
    std::function<void(AddOnSettings&, std::string_view)> read;
    std::function<std::string(const AddOnSettings&)> write;
};

template <typename Field>
KeyRow FlagRow(std::string_view section, std::string_view key, Field field) {
    return {section, key, [field](AddOnSettings& s, std::string_view v) { ParseFlag(v, field(s)); },
            [field](const AddOnSettings& s) {
                return std::string(field(const_cast<AddOnSettings&>(s)) ? "1" : "0");
            }};
}

template <typename Field>
KeyRow IntRow(std::string_view section, std::string_view key, long long low, long long high,
              Field field) {
    return {section, key,
            [field, low, high](AddOnSettings& s, std::string_view v) {
                ParseInt(v, low, high, field(s));
            },
            [field](const AddOnSettings& s) {
                return std::to_string(field(const_cast<AddOnSettings&>(s)));
            }};
}

template <typename Field>
KeyRow TextRow(std::string_view section, std::string_view key, Field field,
               std::function<bool(std::string_view)> accept = {}) {
    return {section, key,
            [field, accept](AddOnSettings& s, std::string_view v) {
                if (!accept || accept(v)) field(s) = std::string(v);
            },
            [field](const AddOnSettings& s) { return field(const_cast<AddOnSettings&>(s)); }};
}

const std::vector<KeyRow>& Keys() {
    static const std::vector<KeyRow> keys = {
        FlagRow("Dziennik", "Wlaczony",
                [](AddOnSettings& s) -> bool& { return s.journal.enabled; }),
        IntRow("Dziennik", "Przechowuj_dni", 1, 36600,
               [](AddOnSettings& s) -> int& { return s.journal.keepDays; }),
        FlagRow("SerwerWagi", "Wlaczony",
                [](AddOnSettings& s) -> bool& { return s.service.enabled; }),
        TextRow(
            "SerwerWagi", "Adres",
            [](AddOnSettings& s) -> std::string& { return s.service.address; },
            [](std::string_view v) { return !v.empty(); }),
        IntRow("SerwerWagi", "Port", 1, 65535,
               [](AddOnSettings& s) -> int& { return s.service.port; }),
        TextRow("SerwerWagi", "Token",
                [](AddOnSettings& s) -> std::string& { return s.service.token; }),
        TextRow("SerwerWagi", "Zrodla",
                [](AddOnSettings& s) -> std::string& { return s.service.origins; }),
        TextRow("SerwerWagi", "Nazwy",
                [](AddOnSettings& s) -> std::string& { return s.service.names; }),
        IntRow("SerwerWagi", "Nieaktualny_po_ms", 1, 86400000,
               [](AddOnSettings& s) -> int& { return s.service.staleAfterMs; }),
        FlagRow("BazaCentralna", "Wlaczona",
                [](AddOnSettings& s) -> bool& { return s.central.enabled; }),
        TextRow("BazaCentralna", "Host",
                [](AddOnSettings& s) -> std::string& { return s.central.host; }),
        IntRow("BazaCentralna", "Port", 1, 65535,
               [](AddOnSettings& s) -> int& { return s.central.port; }),
        TextRow("BazaCentralna", "Baza",
                [](AddOnSettings& s) -> std::string& { return s.central.database; }),
        TextRow("BazaCentralna", "Uzytkownik",
                [](AddOnSettings& s) -> std::string& { return s.central.user; }),
        TextRow(
            "BazaCentralna", "SSL", [](AddOnSettings& s) -> std::string& { return s.central.ssl; },
            [](std::string_view v) {
                return v == "disable" || v == "require" || v == "verify-full";
            }),
        TextRow("BazaCentralna", "CA",
                [](AddOnSettings& s) -> std::string& { return s.central.ca; }),
        TextRow("BazaCentralna", "Stacja",
                [](AddOnSettings& s) -> std::string& { return s.central.station; }),
        IntRow("BazaCentralna", "Zbieraj_ms", 50, 60000,
               [](AddOnSettings& s) -> int& { return s.central.gatherMs; }),
        FlagRow("BazaCentralna", "Posrednik",
                [](AddOnSettings& s) -> bool& { return s.central.pooler; }),
    };
    return keys;
}

// A line's section name when it is a header ("[Dziennik]" gives "Dziennik"); empty otherwise.
std::string_view HeaderName(std::string_view line) {
    line = Trimmed(line);
    if (line.size() < 2 || line.front() != '[' || line.back() != ']') return {};
    const std::string_view name = Trimmed(line.substr(1, line.size() - 2));
    return name.empty() ? std::string_view(" ") : name;  // "[]" is still a header
}

std::string FormatSection(const AddOnSettings& settings, std::string_view section) {
    std::string out = "[" + std::string(section) + "]\n";
    for (const KeyRow& row : Keys()) {
        if (row.section == section) out += std::string(row.key) + "=" + row.write(settings) + "\n";
    }
    return out;
}

}  // namespace

std::string_view AddOnSectionName(AddOnSection section) {
    switch (section) {
        case AddOnSection::Journal:
            return "Dziennik";
        case AddOnSection::Service:
            return "SerwerWagi";
        case AddOnSection::Central:
            return "BazaCentralna";
    }
    return {};
}

AddOnSettings ParseAddOnSettings(std::string_view text) {
    AddOnSettings settings;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a byte-order mark
    std::string section;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = Trimmed(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line.front() == '[' && line.back() == ']') {
            section = std::string(Trimmed(line.substr(1, line.size() - 2)));
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        const std::string_view key = Trimmed(line.substr(0, equals));
        const std::string_view value = Trimmed(line.substr(equals + 1));
        for (const KeyRow& row : Keys()) {
            if (row.section == section && row.key == key) row.read(settings, value);
        }
    }
    return settings;
}

std::string FormatAddOnSettings(const AddOnSettings& settings) {
    std::string out;
    for (const AddOnSection section :
         {AddOnSection::Journal, AddOnSection::Service, AddOnSection::Central}) {
        if (!out.empty()) out += "\n";
        out += FormatSection(settings, AddOnSectionName(section));
    }
    return out;
}

std::string ReplaceAddOnSection(std::string_view text, AddOnSection section,
                                const AddOnSettings& settings) {
    const std::string_view name = AddOnSectionName(section);
    const std::string written = FormatSection(settings, name);
    std::string out;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {  // a byte-order mark stays where it is
        out = text.substr(0, 3);
        text.remove_prefix(3);
    }
    bool inSection = false;  // within a header of `name` and its lines
    bool replaced = false;
    std::string blankTail;  // blank lines at the end of the replaced section, kept after it
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line =
            end == std::string_view::npos ? text : text.substr(0, end + 1);
        text.remove_prefix(line.size());
        const std::string_view header = HeaderName(line);
        if (!header.empty()) {
            if (inSection) out += blankTail;
            blankTail.clear();
            inSection = header == name;
            if (inSection && !replaced) {
                out += written;
                replaced = true;
            }
            if (inSection) continue;
        }
        if (!inSection) {
            out += line;
        } else if (Trimmed(line).empty()) {
            blankTail += line;
        } else {
            blankTail.clear();
        }
    }
    if (inSection) out += blankTail;
    if (!replaced) {
        const bool empty = out.empty() || out == "\xEF\xBB\xBF";
        if (!empty && out.back() != '\n') out += '\n';
        if (!empty) out += '\n';
        out += written;
    }
    return out;
}

AddOnLoadResult LoadAddOnSettings(const fs::path& folder) {
    AddOnLoadResult result;
    const fs::path file = folder / kAddOnSettingsFileName;
    std::error_code error;
    if (fs::status(file, error).type() == fs::file_type::not_found) return result;
    result.fileFound = true;
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    if (in) bytes << in.rdbuf();
    // A folder of that name opens, and reads as nothing.
    if (!in || in.bad() || !fs::is_regular_file(file, error)) {
        result.errorText = "Nie można odczytać pliku " + std::string(kAddOnSettingsFileName) +
                           "; dodatki działają z ustawieniami domyślnymi.";
        return result;
    }
    result.text = bytes.str();
    result.settings = ParseAddOnSettings(result.text);
#if !defined(_WIN32)  // Windows has no such mode bits: its folders' rights govern
    constexpr auto kOthers = fs::perms::group_read | fs::perms::others_read;
    if (!result.settings.service.token.empty() &&
        (fs::status(file, error).permissions() & kOthers) != fs::perms::none && !error) {
        result.warningText = "Plik " + std::string(kAddOnSettingsFileName) +
                             " z tokenem serwera wagi mogą czytać inni użytkownicy; zapisz "
                             "ustawienia ponownie albo wykonaj: chmod 600 " +
                             std::string(kAddOnSettingsFileName);
    }
#endif
    return result;
}

bool SaveAddOnSettings(const AddOnSettings& settings, std::string& errorText,
                       const fs::path& folder) {
    return WriteAddOnFile(FormatAddOnSettings(settings), !settings.service.token.empty(), errorText,
                          folder);
}

bool WriteAddOnFile(const std::string& bytes, bool secret, std::string& errorText,
                    const fs::path& folder) {
    const fs::path file = folder / kAddOnSettingsFileName;
    std::random_device seed;
    fs::path temporary = file;
    temporary += ".tmp" + std::to_string(std::mt19937_64(seed())() % 1000000000);
#if defined(_WIN32)
    std::FILE* out = std::fopen(temporary.string().c_str(), "wbx");
#else
    // Created with its final mode, so a token is never readable by others, not even briefly.
    const int fd =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, secret ? 0600 : 0644);
    std::FILE* out = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
    if (fd >= 0 && out == nullptr) ::close(fd);
#endif
    if (out == nullptr) {
        errorText = "Nie można zapisać pliku " + std::string(kAddOnSettingsFileName) + ": " +
                    std::strerror(errno);
        return false;
    }
    bool ok =
        std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size() && std::fflush(out) == 0;
#if !defined(_WIN32)
    ok = ok && ::fsync(fileno(out)) == 0;
    if (ok) ::fchmod(fileno(out), secret ? 0600 : 0644);  // the umask may have narrowed it
#endif
    const int savedErrno = errno;
    ok = (std::fclose(out) == 0) && ok;
    std::error_code error;
    if (ok) fs::rename(temporary, file, error);
    if (!ok || error) {
        fs::remove(temporary, error);
        errorText = "Nie można zapisać pliku " + std::string(kAddOnSettingsFileName) + ": " +
                    std::strerror(ok ? EIO : savedErrno);
        return false;
    }
    return true;
}
