#pragma once
// Read-only access to the journal (dziennik.sqlite) from the server's thread: its own
// connection, opened when first needed and again after a failure. Its content is untrusted:
// any text, any length, NULLs anywhere; a row that makes no sense is passed on as it is.

#include <QString>
#include <cstdint>
#include <vector>

#include "ServiceEvent.h"

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
    QString connection_;
    QString state_;
    bool open_ = false;
};
