#pragma once
// The tests' own PostgreSQL: started by scripts/central-db in a fresh folder on a free port,
// removed with everything in it by the destructor. Stop, start and SIGKILL it as the faults
// need; the test process adopts the server's processes (child subreaper), so a killed server's
// processes are reaped and it can start again at once.

#include <sys/types.h>

#include <QString>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "AddOnSettings.h"
#include "CentralCheck.h"
#include "PgLink.h"

class CentralServer {
  public:
    // `stations`: comma-separated station roles; `options`: more of scripts/central-db start's
    // options (--empty: no schema; --schema FILE: the database made by FILE).
    explicit CentralServer(const std::string& stations = "stacja1,stacja2",
                           const std::vector<std::string>& options = {});
    ~CentralServer();
    CentralServer(const CentralServer&) = delete;
    CentralServer& operator=(const CentralServer&) = delete;

    bool Ok() const { return port_ > 0; }
    const std::string& Log() const { return log_; }
    int Port() const { return port_; }
    const std::string& Dir() const { return dir_; }
    std::string PgPassPath() const { return dir_ + "/pgpass"; }
    std::string CaPath() const { return dir_ + "/tls/ca.crt"; }  // the server's own CA

    bool Stop();   // fast shutdown
    bool Start();  // again, on the same port
    bool Kill();   // SIGKILL to the postmaster and every server process, all reaped
    // SIGSTOP to the postmaster and every server process (a hung server: connections and
    // statements are taken by the kernel, never answered), and SIGCONT to them again.
    bool Freeze();
    bool Thaw();

    // psql as the administrator (-At): the output, or nullopt on failure.
    std::optional<std::string> Sql(const std::string& sql);
    // Runs the checkout's central/`names` (schema.sql, migrate-2.sql, ...) as the administrator
    // does, in one transaction with psql; false on a failure (Log() tells it).
    bool RunCentralSql(const std::vector<std::string>& names);
    // A file of this checkout.
    static std::string SourcePath(const std::string& relative);

    // The [BazaCentralna] settings for `station` (its role has the same name), verify-full
    // against the server's CA.
    CentralSettings SettingsFor(const std::string& station, int port = 0) const;

    // PgBouncer in transaction mode in front of the server (scripts/central-db pooler, in the
    // server's folder, stopped with it): at most `pool` server connections, all as the login
    // waga_pooler; the stations' passwords for its port go to the password file. False (with the
    // Log()) when it did not start.
    bool StartPooler(int pool);
    int PoolerPort() const { return poolerPort_; }
    // SettingsFor(station) through the pooler: its port, Posrednik=1.
    CentralSettings PoolerSettingsFor(const std::string& station) const;

    // A connection as the administrator (over the server's socket: sees every row whoever
    // created the table), or as `role` (verify-full against the server's CA); a failure to
    // connect fails the test (and gives null).
    std::unique_ptr<central::PgLink> AdminLink();
    std::unique_ptr<central::PgLink> LinkAs(const std::string& role);

    // The digest of `station`'s rows, read as the administrator (no rows while the table is not
    // there yet); a failure fails the test.
    std::optional<central::RowsDigest> Digest(const QString& station);

  private:
    bool Script(const std::vector<std::string>& args);
    std::string dir_;
    int port_ = 0;
    int poolerPort_ = 0;
    std::vector<pid_t> frozen_;
    std::string log_;
};
