#include "CentralServer.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "CentralTexts.h"
#include "TestSupport.h"

namespace {

std::string Script() { return CentralServer::SourcePath("scripts/central-db"); }

// Process ids whose parent is `parent`.
std::vector<pid_t> ChildrenOf(pid_t parent) {
    std::vector<pid_t> children;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) return children;
    while (dirent* entry = ::readdir(proc)) {
        const pid_t pid = std::atoi(entry->d_name);
        if (pid <= 0) continue;
        std::ifstream stat("/proc/" + std::string(entry->d_name) + "/stat");
        std::string line;
        std::getline(stat, line);
        const auto close = line.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(line.substr(close + 2));
        char state = 0;
        pid_t ppid = 0;
        rest >> state >> ppid;
        if (ppid == parent) children.push_back(pid);
    }
    ::closedir(proc);
    return children;
}

}  // namespace

std::string CentralServer::SourcePath(const std::string& relative) {
    const char* source = std::getenv("WAGA_SOURCE_DIR");
    return std::string(source != nullptr ? source : WAGA_DEFAULT_SOURCE_DIR) + "/" + relative;
}

CentralServer::CentralServer(const std::string& stations, const std::vector<std::string>& options) {
    // Orphans (the daemonised postmaster) become this process's children, so they are reaped.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    char pattern[] = "/tmp/waga-central-test-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return;
    dir_ = pattern;
    std::vector<std::string> args{"start", dir_, "--stations", stations};
    args.insert(args.end(), options.begin(), options.end());
    if (!Script(args)) return;
    std::ifstream portFile(dir_ + "/port");
    portFile >> port_;
}

CentralServer::~CentralServer() {
    if (dir_.empty()) return;
    Thaw();
    Script({"remove", dir_});
    std::error_code ignored;  // a folder the script never made a server in
    std::filesystem::remove_all(dir_, ignored);
}

bool CentralServer::Script(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"/bin/bash", ::Script()};
    argv.insert(argv.end(), args.begin(), args.end());
    waga::test::ChildProcess child(argv, "/");
    const int status = child.Wait(std::chrono::seconds(90));
    log_ += child.Stdout() + child.Stderr();
    return status == 0;
}

bool CentralServer::RunCentralSql(const std::vector<std::string>& names) {
    // Copied into the server's folder, where the server's user reads them (the checkout may be
    // closed to it); every central file goes, for the includes between them.
    const std::string folder = dir_ + "/sql";
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    for (const auto& entry : std::filesystem::directory_iterator(SourcePath("central"), error)) {
        if (entry.path().extension() != ".sql") continue;
        std::filesystem::copy_file(entry.path(),
                                   std::filesystem::path(folder) / entry.path().filename(),
                                   std::filesystem::copy_options::overwrite_existing, error);
        if (error) break;
    }
    if (error) {
        log_ += "copying central/*.sql: " + error.message() + "\n";
        return false;
    }
    std::vector<std::string> args{"psql", dir_, "-d", "waga", "-1"};
    for (const std::string& name : names) {
        args.push_back("-f");
        args.push_back(folder + "/" + name);
    }
    return Script(args);
}

bool CentralServer::Stop() { return Script({"stop", dir_}); }

bool CentralServer::Start() { return Script({"start", dir_}); }

bool CentralServer::Kill() {
    std::ifstream pidFile(dir_ + "/data/postmaster.pid");
    pid_t postmaster = 0;
    pidFile >> postmaster;
    if (postmaster <= 0) return false;
    ::kill(postmaster, SIGSTOP);  // no new server process from here on
    const std::vector<pid_t> children = ChildrenOf(postmaster);
    ::kill(postmaster, SIGKILL);
    for (const pid_t child : children) ::kill(child, SIGKILL);
    // Reap them: the postmaster is ours (subreaper); its children become ours when it dies.
    const bool reaped = waga::test::WaitUntil(
        [&] {
            // Only the server's own processes are reaped: the test's other children are waited
            // for by their owners.
            bool gone = true;
            for (const pid_t pid : children) {
                ::waitpid(pid, nullptr, WNOHANG);
                gone = gone && ::kill(pid, 0) != 0;
            }
            ::waitpid(postmaster, nullptr, WNOHANG);
            return gone && ::kill(postmaster, 0) != 0;
        },
        std::chrono::seconds(20));
    return reaped;
}

bool CentralServer::Freeze() {
    std::ifstream pidFile(dir_ + "/data/postmaster.pid");
    pid_t postmaster = 0;
    pidFile >> postmaster;
    if (postmaster <= 0 || ::kill(postmaster, SIGSTOP) != 0) return false;
    frozen_ = ChildrenOf(postmaster);
    for (const pid_t child : frozen_) ::kill(child, SIGSTOP);
    frozen_.push_back(postmaster);
    return true;
}

bool CentralServer::Thaw() {
    bool all = !frozen_.empty();
    for (const pid_t pid : frozen_) all = ::kill(pid, SIGCONT) == 0 && all;
    frozen_.clear();
    return all;
}

std::optional<std::string> CentralServer::Sql(const std::string& sql) {
    std::vector<std::string> argv{"/bin/bash", ::Script(), "psql", dir_, "-d",
                                  "waga",      "-At",      "-c",   sql};
    waga::test::ChildProcess child(argv, "/");
    const int status = child.Wait(std::chrono::seconds(60));
    if (status != 0) {
        log_ += child.Stderr();
        return std::nullopt;
    }
    std::string out = child.Stdout();
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

CentralSettings CentralServer::SettingsFor(const std::string& station, int port) const {
    CentralSettings settings;
    settings.enabled = true;
    settings.host = "127.0.0.1";
    settings.port = port > 0 ? port : port_;
    settings.database = "waga";
    settings.user = station;
    settings.ssl = "verify-full";
    settings.ca = CaPath();
    settings.station = station;
    return settings;
}

bool CentralServer::StartPooler(int pool) {
    if (!Script({"pooler", dir_, "--pool", std::to_string(pool)})) return false;
    std::ifstream portFile(dir_ + "/pooler/port");
    portFile >> poolerPort_;
    return poolerPort_ > 0;
}

CentralSettings CentralServer::PoolerSettingsFor(const std::string& station) const {
    CentralSettings settings = SettingsFor(station, poolerPort_);
    settings.pooler = true;
    return settings;
}

namespace {

std::unique_ptr<central::PgLink> Connected(
    const std::vector<std::pair<QString, QString>>& parameters) {
    auto link = std::make_unique<central::PgLink>();
    if (link->Connect(parameters, central::DeadlineIn(std::chrono::seconds(20))) !=
        central::PgWait::Done) {
        ADD_FAILURE() << "connecting to the test server: " << link->Error().toStdString();
        return nullptr;
    }
    return link;
}

}  // namespace

std::unique_ptr<central::PgLink> CentralServer::AdminLink() {
    return Connected({{QStringLiteral("host"), QString::fromStdString(dir_ + "/run")},
                      {QStringLiteral("port"), QString::number(port_)},
                      {QStringLiteral("dbname"), QStringLiteral("waga")},
                      {QStringLiteral("user"), QStringLiteral("waga_admin")}});
}

std::unique_ptr<central::PgLink> CentralServer::LinkAs(const std::string& role) {
    return Connected(central::PgConnectParameters(SettingsFor(role)));
}

std::optional<central::RowsDigest> CentralServer::Digest(const QString& station) {
    const std::unique_ptr<central::PgLink> link = AdminLink();
    if (!link) return std::nullopt;
    // A database made --empty has no table until the administrator makes it: no rows.
    std::vector<central::PgResult> there;
    if (link->Exec("SELECT to_regclass('weighing_lines') IS NULL", there,
                   central::DeadlineIn(std::chrono::seconds(20))) != central::PgWait::Done ||
        there.size() != 1 || !there[0].Ok()) {
        ADD_FAILURE() << "the central digest: " << link->Error().toStdString();
        return std::nullopt;
    }
    if (there[0].Value(0, 0) == "t") return central::RowsDigest{};
    QString error;
    std::optional<central::RowsDigest> digest = central::CentralRowsDigest(*link, station, error);
    if (!digest) ADD_FAILURE() << "the central digest: " << error.toStdString();
    return digest;
}
