#pragma once
// dodatki.ini: the settings of what the program adds beside its described behaviour (the
// journal, the weight service, the central database). konfig.ini is never touched for them.
// The file is UTF-8 INI with the sections [Dziennik], [SerwerWagi] and [BazaCentralna]; a key
// that is missing or holds a value out of range keeps its default, unknown keys are ignored.
// It is written with mode 0600 when it holds a secret (the service's token).

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

inline constexpr std::string_view kAddOnSettingsFileName = "dodatki.ini";

struct JournalSettings {  // [Dziennik]
    bool enabled = true;  // Wlaczony
    int keepDays = 366;   // Przechowuj_dni (1 .. 36600)
    bool operator==(const JournalSettings&) const = default;
};

struct ServiceSettings {                // [SerwerWagi]
    bool enabled = false;               // Wlaczony
    std::string address = "127.0.0.1";  // Adres
    int port = 8765;                    // Port (1 .. 65535)
    std::string token;                  // Token
    std::string origins;                // Zrodla: comma-separated; empty = none; * = any
    std::string names;                  // Nazwy: comma-separated host names the station answers to
    int staleAfterMs = 5000;            // Nieaktualny_po_ms (1 .. 86400000)
    bool operator==(const ServiceSettings&) const = default;
};

struct CentralSettings {              // [BazaCentralna]
    bool enabled = false;             // Wlaczona
    std::string host;                 // Host
    int port = 5432;                  // Port (1 .. 65535)
    std::string database;             // Baza
    std::string user;                 // Uzytkownik
    std::string ssl = "verify-full";  // SSL: verify-full, or the unsafe require or disable
    std::string ca;                   // CA: the server's root certificate (empty: libpq's own)
    std::string station;              // Stacja (empty: the computer's host name)
    // Zbieraj_ms (50 .. 60000): a station commits at most this often; rows that arrive meanwhile
    // go together in the next batch (longer while the server answers slowly).
    int gatherMs = 500;
    // Posrednik: Host is a transaction pooler (PgBouncer) in front of the server. It cannot bind
    // SCRAM to the TLS channel, so the station then only insists that it was asked for its
    // password; the server's limits on statements come from the pooler's role, not from the
    // connection.
    bool pooler = false;
    bool operator==(const CentralSettings&) const = default;
};

struct AddOnSettings {
    JournalSettings journal;
    ServiceSettings service;
    CentralSettings central;
    bool operator==(const AddOnSettings&) const = default;
};

// The sections, as the file names them: "Dziennik", "SerwerWagi", "BazaCentralna".
enum class AddOnSection : std::uint8_t { Journal, Service, Central };
std::string_view AddOnSectionName(AddOnSection section);

// Pure parser and writer. Parsing never fails: what it does not accept keeps its default.
AddOnSettings ParseAddOnSettings(std::string_view text);
std::string FormatAddOnSettings(const AddOnSettings& settings);
// `text` (a file's bytes) with `section` written from `settings`: the section's lines are
// replaced where the section stands (a second header of it goes), or it is added at the end;
// every other byte stays.
std::string ReplaceAddOnSection(std::string_view text, AddOnSection section,
                                const AddOnSettings& settings);

struct AddOnLoadResult {
    AddOnSettings settings;
    std::string text;  // the file's bytes as read
    bool fileFound = false;
    std::string errorText;    // UTF-8; set when the file exists but cannot be read
    std::string warningText;  // UTF-8; set when it holds a token that others may read
};

// Reads dodatki.ini from `folder` (the working directory by default). A token in a file that
// the group or others may read is used, and warned about, as ssh does for a key.
AddOnLoadResult LoadAddOnSettings(const std::filesystem::path& folder = {});
// Replaces dodatki.ini in `folder` atomically (temporary file, then rename), with mode 0600
// when a token is set and 0644 otherwise. False with `errorText` (UTF-8) on failure; the old
// file stays as it was then.
bool SaveAddOnSettings(const AddOnSettings& settings, std::string& errorText,
                       const std::filesystem::path& folder = {});
// The same with the file's bytes given; `secret`: the bytes hold the service's token.
bool WriteAddOnFile(const std::string& bytes, bool secret, std::string& errorText,
                    const std::filesystem::path& folder = {});
