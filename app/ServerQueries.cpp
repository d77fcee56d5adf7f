#include "ServerQueries.h"

#include "Timestamp.h"

#include <QMetaObject>
#include <algorithm>
#include <iterator>
#include <thread>
#include <unordered_map>

ServerQueries::ServerQueries(std::string conninfo, std::string password, std::string journalPath, QObject* parent)
    : QObject(parent) {
    state_->owner = this;
    std::thread(loop, state_, std::move(conninfo), std::move(password), std::move(journalPath)).detach();
}

ServerQueries::~ServerQueries() {
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->owner = nullptr;
        state_->stop = true;
        state_->calls.clear();
    }
    state_->wake.notify_all();
}

void ServerQueries::post(const char* kind, QObject* context, std::function<void(Link&)> work, std::function<void()> done) {
    Call call{kind, std::move(work), [context = QPointer<QObject>(context), done = std::move(done)] {
                  if (context)
                      done();
              }};
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        auto& calls = state_->calls;
        calls.erase(std::remove_if(calls.begin(), calls.end(), [&](const Call& c) { return c.kind == call.kind; }),
                    calls.end());
        calls.push_back(std::move(call));
    }
    state_->wake.notify_all();
}

void ServerQueries::loop(std::shared_ptr<State> state, std::string conninfo, std::string password,
                         std::string journalPath) {
    journal::ServerJournal server(std::move(conninfo));
    server.setPassword(std::move(password));
    journal::JournalStore store(journalPath);
    Link link{server, store};
    std::unique_lock<std::mutex> lock(state->mutex);
    for (;;) {
        state->wake.wait(lock, [&] { return state->stop || !state->calls.empty(); });
        if (state->stop)
            return;
        Call call = std::move(state->calls.front());
        state->calls.pop_front();
        lock.unlock();
        call.work(link);
        lock.lock();
        // Posted while the owner cannot go: its end waits for this lock.
        if (state->owner)
            QMetaObject::invokeMethod(state->owner, std::move(call.done), Qt::QueuedConnection);
    }
}

WorkshopRecords workshopRecords(ServerQueries::Link& link, journal::RecordFilter filter, std::size_t limit) {
    filter.limit = limit;
    const bool wasConnected = link.server.connected();
    std::optional<std::vector<journal::JobRecord>> records = link.server.list(filter);
    if (!records && wasConnected && !link.server.connected())
        records = link.server.list(filter); // a connection the server dropped since (a restart): once more, anew
    WorkshopRecords out;
    if (!records) {
        out.problem = link.server.problem();
        out.needsPassword = link.server.needsPassword();
        return out;
    }
    // This PC's records the sync worker has not sent yet are the workshop's
    // too, at a newer revision than any the server has.
    journal::RecordFilter waiting = filter;
    waiting.waitingOnly = true;
    std::vector<journal::JobRecord> local = link.store.list(waiting);
    if (!local.empty()) {
        std::unordered_map<std::string, std::size_t> at;
        for (std::size_t i = 0; i < records->size(); ++i)
            at.emplace((*records)[i].id, i);
        std::vector<journal::JobRecord> unsent;
        for (journal::JobRecord& r : local) {
            if (const auto found = at.find(r.id); found != at.end())
                (*records)[found->second] = std::move(r); // the same start: its place stays
            else
                unsent.push_back(std::move(r));
        }
        // Both newest first: merged in the server's order (ties by id).
        const auto newer = [](const journal::JobRecord& a, const journal::JobRecord& b) {
            const std::int64_t ta = journal::timestampMs(a.started).value_or(0), tb = journal::timestampMs(b.started).value_or(0);
            return ta != tb ? ta > tb : a.id > b.id;
        };
        std::stable_sort(unsent.begin(), unsent.end(), newer);
        std::vector<journal::JobRecord> merged;
        merged.reserve(records->size() + unsent.size());
        std::merge(std::make_move_iterator(records->begin()), std::make_move_iterator(records->end()),
                   std::make_move_iterator(unsent.begin()), std::make_move_iterator(unsent.end()),
                   std::back_inserter(merged), newer);
        if (limit && merged.size() > limit)
            merged.resize(limit);
        *records = std::move(merged);
    }
    out.records = std::move(records);
    return out;
}
