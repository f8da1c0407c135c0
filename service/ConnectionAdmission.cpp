#include "ConnectionAdmission.h"

void ConnectionAdmission::Add(Id id, Entry entry) {
    entry.order = nextOrder_++;
    ++count_[entry.kind];
    if (entry.tokenless) ++tokenless_[entry.kind];
    ++perClient_[entry.client].count[entry.kind];
    byAge_[entry.kind].emplace(entry.order, id);
    entries_.insert(id, std::move(entry));
}

void ConnectionAdmission::Forget(Id id) {
    const auto it = entries_.find(id);
    if (it == entries_.end()) return;
    const Entry& entry = *it;
    --count_[entry.kind];
    if (entry.tokenless) --tokenless_[entry.kind];
    byAge_[entry.kind].erase(entry.order);
    const auto client = perClient_.find(entry.client);
    if (client != perClient_.end()) {
        --client->count[entry.kind];
        if (client->count[kOpening] <= 0 && client->count[kOrdinary] <= 0 &&
            client->count[kStream] <= 0) {
            perClient_.erase(client);
        }
    }
    entries_.erase(it);
}

template <typename Pick>
ConnectionAdmission::Id ConnectionAdmission::Oldest(Kind kind, Id except, Pick pick) const {
    Id busy = 0;
    for (const auto& [order, id] : byAge_[kind]) {
        if (id == except) continue;
        const auto it = entries_.constFind(id);
        if (it == entries_.constEnd() || !pick(*it)) continue;
        if (!pending_ || !pending_(id)) return id;
        if (busy == 0) busy = id;
    }
    return busy;
}

void ConnectionAdmission::Evict(Id id, Decision& decision) {
    if (id == 0) return;
    Forget(id);
    decision.close.push_back(id);
}

int ConnectionAdmission::ClientCount(const QString& client, Kind kind) const {
    const auto it = perClient_.constFind(client);
    return it == perClient_.constEnd() ? 0 : it->count[kind];
}

ConnectionAdmission::Decision ConnectionAdmission::Open(Id id, const QString& client) {
    Decision decision;
    const auto any = [](const Entry&) { return true; };
    if (ClientCount(client, kOpening) >= limits_.maxOpeningPerClient) {
        Evict(Oldest(kOpening, id, [&](const Entry& e) { return e.client == client; }), decision);
    } else if (count_[kOpening] >= limits_.maxOpening) {
        Evict(Oldest(kOpening, id, any), decision);
    }
    Entry entry;
    entry.client = client;
    Add(id, std::move(entry));
    return decision;
}

ConnectionAdmission::Decision ConnectionAdmission::Heard(Id id, bool tokenHolder) {
    Decision decision;
    const auto it = entries_.find(id);
    if (it == entries_.end() || it->kind == kStream) return decision;
    Entry entry = *it;
    Forget(id);  // counted again below, as the most recently active
    entry.kind = kOrdinary;
    entry.tokenless = tokenSet_ && !tokenHolder;
    const QString client = entry.client;
    if (ClientCount(client, kOrdinary) >= limits_.maxConnectionsPerClient) {
        Evict(Oldest(kOrdinary, id, [&](const Entry& e) { return e.client == client; }), decision);
    }
    const auto tokenless = [](const Entry& e) { return e.tokenless; };
    if (entry.tokenless && tokenless_[kOrdinary] >= limits_.maxTokenlessConnections) {
        Evict(Oldest(kOrdinary, id, tokenless), decision);
    }
    if (count_[kOrdinary] >= limits_.maxConnections) {
        Id oldest = Oldest(kOrdinary, id, tokenless);
        if (oldest == 0) oldest = Oldest(kOrdinary, id, [](const Entry&) { return true; });
        Evict(oldest, decision);
    }
    Add(id, std::move(entry));
    return decision;
}

ConnectionAdmission::Decision ConnectionAdmission::Stream(Id id) {
    Decision decision;
    const auto it = entries_.find(id);
    if (it == entries_.end()) {
        decision.verdict = Verdict::AllFull;
        return decision;
    }
    if (it->kind == kStream) return decision;
    Entry entry = *it;
    if (ClientCount(entry.client, kStream) >= limits_.maxStreamsPerClient) {
        decision.verdict = Verdict::ClientFull;
        return decision;
    }
    if (entry.tokenless && tokenless_[kStream] >= limits_.maxTokenlessStreams) {
        decision.verdict = Verdict::TokenlessFull;
        return decision;
    }
    if (count_[kStream] >= limits_.maxStreams) {
        const Id oldest = entry.tokenless || !tokenSet_
                              ? 0
                              : Oldest(kStream, id, [](const Entry& e) { return e.tokenless; });
        if (oldest == 0) {
            decision.verdict = Verdict::AllFull;
            return decision;
        }
        Evict(oldest, decision);
    }
    Forget(id);
    entry.kind = kStream;
    Add(id, std::move(entry));
    return decision;
}
