#pragma once
// Which connections the weight service keeps when there are too many: the limits (stated here
// and nowhere else) and one decision per step of a connection's life. It holds no sockets: it
// is told what happened and says what to close.
//
// A connection is first "opening": nothing of a request heard yet. It holds no place of a
// request's: openings are counted apart, must send a whole request head within 2 s (else
// closed), and when too many wait, the oldest of the same address (over 32) or of all (over 256)
// is closed for the new one (one whose bytes wait unread only when no other is left). So idle
// connections never keep out a client that sends a request.
//
// With a whole head it holds an ordinary place (256; 32 from one address). When a token is set,
// a client without it holds at most a quarter of them (64); a place is made by closing the
// oldest idle connection of the same address, else the oldest without the token, else the
// oldest. A request is answered as soon as it is heard, so such a connection is idle between
// requests and loses nothing but its keep-alive.
//
// An event stream holds a stream place (256; 8 from one address; without the token, when one is
// set, at most 64). A full address or share is refused (429, 503); when all 256 are taken, a
// token holder's stream takes the place of the oldest one without the token. So a token holder
// always finds a place, for requests and for streams.

#include <QHash>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

struct ConnectionLimits {
    int maxOpening = 256;  // connections that have not sent a whole head yet
    int maxOpeningPerClient = 32;
    int headTimeoutMs = 2000;  // a new connection's first head, whole, within this
    int maxConnections = 256;  // connections that sent a head (ordinary places)
    int maxConnectionsPerClient = 32;
    int maxTokenlessConnections = 64;  // when a token is set: a quarter of the places
    int maxStreams = 256;
    int maxStreamsPerClient = 8;
    int maxTokenlessStreams = 64;
    qint64 maxHeaderBytes = 16 * 1024;
    qint64 maxBodyBytes = 64 * 1024;
    int requestTimeoutMs = 10000;  // the next request, whole, within this of the answer before
    int maxRequestsAtOnce = 16;
    qint64 maxUnsentBytes = 1024 * 1024;  // also what an event-stream client may leave unread
    int streamStallMs = 10000;    // an event-stream client that takes nothing for this long goes
    int maxLingering = 512;       // refused connections still being told why
    int listenBacklog = 1024;     // connections the system holds until the server takes them
    int firstGuessWaitMs = 1000;  // after five wrong tokens; doubled with each more
};

class ConnectionAdmission {
  public:
    using Id = std::uint64_t;
    enum class Verdict {
        Admitted,
        ClientFull,     // this address holds all it may (429)
        TokenlessFull,  // the share of clients without the token is taken (503)
        AllFull,        // every place is taken (503)
    };
    struct Decision {
        Verdict verdict = Verdict::Admitted;
        std::vector<Id> close;  // to be closed for it: already forgotten here
    };

    // `pending` tells whether a connection's next bytes have come and wait to be read: such
    // a one is busy rather than idle, and is closed only when no idle one is left.
    using Pending = std::function<bool(Id)>;
    ConnectionAdmission(const ConnectionLimits& limits, bool tokenSet, Pending pending = {})
        : limits_(limits), tokenSet_(tokenSet), pending_(std::move(pending)) {}

    // A new connection from `client`: always admitted, as an opening one.
    Decision Open(Id id, const QString& client);
    // `id` sent a whole request head that passed the gate (with the right token or not): it
    // holds an ordinary place from now on, as the most recently active. Always admitted.
    Decision Heard(Id id, bool tokenHolder);
    // `id`, which sent a head, asks to carry an event stream; admitted, it holds a stream place
    // instead of an ordinary one.
    Decision Stream(Id id);
    void Forget(Id id);

    int Opening() const { return count_[kOpening]; }
    int Ordinary() const { return count_[kOrdinary]; }
    int Streams() const { return count_[kStream]; }

  private:
    enum Kind { kOpening, kOrdinary, kStream, kKinds };
    struct Entry {
        QString client;
        Kind kind = kOpening;
        bool tokenless = true;  // counts against the share of clients without the token
        std::uint64_t order = 0;
    };
    struct PerClient {
        int count[kKinds] = {0, 0, 0};
    };
    void Add(Id id, Entry entry);
    // The oldest of `kind` that `pick` accepts, other than `except`, an idle one first; 0 when
    // none.
    template <typename Pick>
    Id Oldest(Kind kind, Id except, Pick pick) const;
    void Evict(Id id, Decision& decision);
    int ClientCount(const QString& client, Kind kind) const;

    ConnectionLimits limits_;
    bool tokenSet_;
    Pending pending_;
    QHash<Id, Entry> entries_;
    QHash<QString, PerClient> perClient_;
    std::map<std::uint64_t, Id> byAge_[kKinds];
    int count_[kKinds] = {0, 0, 0};
    int tokenless_[kKinds] = {0, 0, 0};
    std::uint64_t nextOrder_ = 1;
};
