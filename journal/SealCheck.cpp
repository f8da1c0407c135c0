#include "SealCheck.h"

#include <sqlite3.h>

#include <QDateTime>
#include <QFileInfo>
#include <cstring>
#include <string>

#include "JournalFile.h"
#include "JournalSeal.h"
#include "StationKey.h"

namespace waga::journal {

namespace {
constexpr std::size_t kListedFindings = 1000;

class Query {
  public:
    Query(sqlite3* db, const std::string& sql) {
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s_, nullptr) != SQLITE_OK) s_ = nullptr;
    }
    ~Query() { sqlite3_finalize(s_); }
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;
    sqlite3_stmt* get() const { return s_; }
    // Steps; false at the end (or a failure, then `failed`).
    bool Next() {
        const int step = sqlite3_step(s_);
        failed_ = failed_ || (step != SQLITE_ROW && step != SQLITE_DONE);
        return step == SQLITE_ROW;
    }
    bool Failed() const { return failed_; }

  private:
    sqlite3_stmt* s_ = nullptr;
    bool failed_ = false;
};

template <std::size_t N>
bool Blob(sqlite3_stmt* s, int column, std::array<std::uint8_t, N>& out) {
    if (sqlite3_column_type(s, column) != SQLITE_BLOB || sqlite3_column_bytes(s, column) != int(N))
        return false;
    std::memcpy(out.data(), sqlite3_column_blob(s, column), N);
    return true;
}

class Checker {
  public:
    explicit Checker(SealReport& report) : r_(report) {}

    void Find(std::int64_t seq, const QString& text) {
        if (r_.findings.size() < kListedFindings) {
            r_.findings.push_back({seq, text});
        } else {
            ++r_.moreFindings;
        }
    }

    bool ReadHead(sqlite3* db, seal::Head& head) {
        Query q(db,
                "SELECT version, public_key, base_seq, base_prev_seq, base_prev, head_seq,"
                " head_link, unsealed, signed_ms, signature FROM seal_head WHERE id = 1");
        if (q.get() == nullptr || !q.Next()) return false;  // sealing never began
        sqlite3_stmt* s = q.get();
        r_.hasHead = true;
        seal::PublicKey key{};
        seal::Signature signature{};
        head.baseSeq = sqlite3_column_int64(s, 2);
        head.basePrevSeq = sqlite3_column_int64(s, 3);
        head.headSeq = sqlite3_column_int64(s, 5);
        head.unsealed = sqlite3_column_int64(s, 7);
        head.signedMs = sqlite3_column_int64(s, 8);
        r_.headSeq = head.headSeq;
        r_.signedMs = head.signedMs;
        if (sqlite3_column_int64(s, 0) != seal::kVersion || !Blob(s, 1, key) ||
            !Blob(s, 4, head.basePrevious) || !Blob(s, 6, head.headLink) ||
            !Blob(s, 9, signature)) {
            Find(head.headSeq, QStringLiteral("nagłówek pieczęci jest uszkodzony albo ma nieznaną "
                                              "wersję"));
            return true;
        }
        head.fingerprint = seal::Fingerprint(key);
        r_.fingerprint = head.fingerprint;
        if (!seal::VerifySignature(seal::HeadMessage(head), signature, key)) {
            Find(head.headSeq, QStringLiteral("podpis nagłówka pieczęci się nie zgadza "
                                              "(nagłówek zmieniono)"));
        }
        return true;
    }

  private:
    SealReport& r_;
};
}  // namespace

SealReport VerifyJournal(const QString& path, const std::optional<seal::Digest>& expected,
                         const std::atomic<bool>* stop) {
    SealReport r;
    if (!seal::InitCrypto()) {
        r.error = QStringLiteral("Nie można uruchomić biblioteki kryptograficznej (libsodium).");
        return r;
    }
    if (!QFileInfo(path).isFile()) {
        r.error = QStringLiteral("Nie ma pliku dziennika %1.").arg(path);
        return r;
    }
    JournalDb connection;
    sqlite3* db = nullptr;
    if (connection.Open(path, JournalAccess::Reader)) db = SqliteHandle(connection.Database());
    if (db == nullptr || sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) {
        r.error = QStringLiteral("Nie można odczytać dziennika %1: %2")
                      .arg(path, connection.LastError().text());
        return r;
    }
    Checker check(r);
    {
        seal::Head head;
        const bool sealedFile = check.ReadHead(db, head);
        if (sealedFile && expected && r.fingerprint != *expected &&
            r.fingerprint != seal::Digest{}) {
            check.Find(head.headSeq,
                       QStringLiteral("pieczęć podpisał inny klucz (odcisk %1), nie klucz tej "
                                      "stacji (odcisk %2)")
                           .arg(FingerprintText(r.fingerprint), FingerprintText(*expected)));
        }
        Query lines(db, std::string("SELECT ") + seal::kColumnList + " FROM lines ORDER BY seq");
        Query seals(db, "SELECT seq, prev_seq, link FROM seals ORDER BY seq");
        if (lines.get() == nullptr) {
            r.error = QStringLiteral("Plik %1 nie jest dziennikiem wagi: %2")
                          .arg(path, QString::fromUtf8(sqlite3_errmsg(db)));
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            return r;
        }
        const bool chain = sealedFile && head.headSeq >= head.baseSeq;
        bool haveRow = lines.Next();
        bool haveSeal = seals.get() != nullptr && seals.Next();
        bool first = true;
        std::int64_t prevSeq = head.basePrevSeq, lastChain = 0;
        seal::Digest prevLink = head.basePrevious;
        std::string scratch;
        seal::Field fields[seal::kColumns];
        std::int64_t unsealedBelow = 0;
        std::int64_t counter = 0;
        while (haveRow || haveSeal) {
            if (stop && (++counter & 0xFFF) == 0 && stop->load()) {
                r.stopped = true;
                break;
            }
            const std::int64_t rowSeq = haveRow ? sqlite3_column_int64(lines.get(), 0) : INT64_MAX;
            const std::int64_t sealSeq =
                haveSeal ? sqlite3_column_int64(seals.get(), 0) : INT64_MAX;
            const std::int64_t seq = std::min(rowSeq, sealSeq);
            const bool row = rowSeq == seq, sealed = sealSeq == seq;
            if (row) {
                if (r.rows == 0) r.firstSeq = seq;
                r.lastSeq = seq;
                ++r.rows;
            }
            if (!chain || seq < head.baseSeq) {
                if (row) ++r.unsealed;
                if (row && sealedFile && seq < head.baseSeq) ++unsealedBelow;
            } else if (seq > head.headSeq) {
                if (row) {
                    ++r.unsealed;
                    check.Find(seq, QStringLiteral("wiersz dopisany za ostatnim podpisanym "
                                                   "(seq %1), bez podpisanej pieczęci")
                                        .arg(head.headSeq));
                }
            } else {
                if (first && seq != head.baseSeq) {
                    check.Find(head.baseSeq, QStringLiteral("usunięto najstarszy pieczętowany "
                                                            "wiersz (i być może następne przed "
                                                            "seq %1)")
                                                 .arg(seq));
                }
                seal::Digest stored{};
                std::int64_t storedPrev = 0;
                if (sealed) {
                    storedPrev = sqlite3_column_int64(seals.get(), 1);
                    if (!Blob(seals.get(), 2, stored)) stored = seal::Digest{};
                }
                if (row && !sealed) {
                    ++r.unsealed;
                    check.Find(seq, QStringLiteral("wiersz bez pieczęci wewnątrz łańcucha "
                                                   "(dopisany)"));
                } else if (!row) {
                    check.Find(seq, QStringLiteral("wiersz usunięty (jego pieczęć została)"));
                    first = false;
                    prevSeq = seq;
                    prevLink = stored;
                    lastChain = seq;
                } else {
                    ++r.sealed;
                    if (storedPrev != prevSeq) {
                        check.Find(seq, storedPrev > prevSeq
                                            ? QStringLiteral("usunięto wiersz przed nim "
                                                             "(seq %1 według pieczęci)")
                                                  .arg(storedPrev)
                                            : QStringLiteral("pieczęć wskazuje inny poprzedni "
                                                             "wiersz (seq %1, jest seq %2)")
                                                  .arg(storedPrev)
                                                  .arg(prevSeq));
                    } else {
                        ReadSealFields(lines.get(), 0, fields);
                        if (seal::Link(prevLink, prevSeq, fields, scratch) != stored) {
                            check.Find(seq, QStringLiteral("wiersz nie zgadza się ze swoją "
                                                           "pieczęcią (zmieniony)"));
                        }
                    }
                    first = false;
                    prevSeq = seq;
                    prevLink = stored;
                    lastChain = seq;
                }
            }
            if (row) haveRow = lines.Next();
            if (sealed) haveSeal = seals.Next();
        }
        if (lines.Failed() || seals.Failed()) {
            r.error = QStringLiteral("Nie można odczytać dziennika %1 do końca: %2")
                          .arg(path, QString::fromUtf8(sqlite3_errmsg(db)));
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            return r;
        }
        if (chain && !r.stopped) {
            if (lastChain < head.headSeq) {
                check.Find(head.headSeq,
                           first ? QStringLiteral("usunięto wszystkie pieczętowane wiersze")
                                 : QStringLiteral("usunięto najnowsze wiersze po seq %1 (podpis "
                                                  "obejmuje wiersze do seq %2)")
                                       .arg(lastChain)
                                       .arg(head.headSeq));
            } else if (prevLink != head.headLink) {
                check.Find(head.headSeq, QStringLiteral("łańcuch pieczęci nie zgadza się z "
                                                        "podpisanym nagłówkiem (pieczęcie "
                                                        "przeliczono po zmianie)"));
            }
        }
        if (sealedFile && !r.stopped && unsealedBelow != head.unsealed) {
            check.Find(head.baseSeq, QStringLiteral("wierszy bez pieczęci przed seq %1 jest %2, "
                                                    "a podpis mówi o %3 (dopisano lub usunięto "
                                                    "wiersz)")
                                         .arg(head.baseSeq)
                                         .arg(unsealedBelow)
                                         .arg(head.unsealed));
        }
        if (!sealedFile && expected && r.rows > 0) {
            check.Find(r.lastSeq, QStringLiteral("dziennik nie ma podpisanej pieczęci, a ta stacja "
                                                 "pieczętuje wiersze (pieczęć usunięta?)"));
        }
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    r.readable = true;
    return r;
}

QString SealReportText(const SealReport& r) {
    QString text;
    text += QStringLiteral("Wierszy: %1").arg(r.rows);
    if (r.rows > 0) text += QStringLiteral(" (seq %1–%2)").arg(r.firstSeq).arg(r.lastSeq);
    text += QStringLiteral("\nZ pieczęcią: %1, bez pieczęci: %2\n").arg(r.sealed).arg(r.unsealed);
    if (r.hasHead) {
        text += QStringLiteral("Podpis: seq do %1, %2 UTC\nOdcisk klucza: %3\n")
                    .arg(r.headSeq)
                    .arg(QDateTime::fromMSecsSinceEpoch(r.signedMs, Qt::UTC)
                             .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                         FingerprintText(r.fingerprint));
    } else {
        text += QStringLiteral("Dziennik nie ma podpisanej pieczęci.\n");
    }
    if (r.stopped) text += QStringLiteral("Sprawdzanie przerwano.\n");
    for (const SealFinding& f : r.findings) {
        text += QStringLiteral("seq %1: %2\n").arg(f.seq).arg(f.text);
    }
    if (r.moreFindings > 0) {
        text += QStringLiteral("… i %1 dalszych nieprawidłowości\n").arg(r.moreFindings);
    }
    text += r.findings.empty() ? QStringLiteral("Wynik: nienaruszony\n")
                               : QStringLiteral("Wynik: NIEPRAWIDŁOWOŚCI: %1\n")
                                     .arg(qsizetype(r.findings.size()) + r.moreFindings);
    return text;
}

}  // namespace waga::journal
