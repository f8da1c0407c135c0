#pragma once
// Read-only access to the journal from the server's thread: its own connection through the
// journal module, opened when first needed and again after a failure. Its content is untrusted:
// any text, any length; a row the journal module cannot make sense of is left out and told on
// standard error (once per row), never changed into another.

#include <QString>
#include <cstdint>
#include <memory>
#include <set>
#include <vector>

#include "ServiceEvent.h"

namespace waga::journal {
class JournalDb;
}

class JournalReader {
  public:
    explicit JournalReader(QString path);
    ~JournalReader();
    JournalReader(const JournalReader&) = delete;
    JournalReader& operator=(const JournalReader&) = delete;

    // Rows with seq > `since`, in order, at most `limit`, and no more once their texts pass
    // `maxBytes` (`truncated` then says so). False when the journal cannot be read (State()
    // says why).
    bool RowsAfter(std::int64_t since, int limit, std::vector<ServiceEvent>& rows,
                   std::vector<std::int64_t>* firstMs = nullptr, qint64 maxBytes = 16 << 20,
                   bool* truncated = nullptr);
    // "otwarty", "brak pliku" or "błąd: <cause>".
    QString State() const { return state_; }
    bool Available();

  private:
    bool Open();

    QString path_;
    QString state_;
    std::unique_ptr<waga::journal::JournalDb> db_;
    std::set<std::int64_t> told_;  // rows left out and told already
};
