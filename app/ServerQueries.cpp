#include "ServerQueries.h"

#include <QMetaObject>
#include <algorithm>
#include <thread>

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

bool eachWorkshopRecord(ServerQueries::Link& link, const journal::RecordFilter& filter,
                        const std::function<bool(const journal::JobRecord&)>& each, ServerTrouble& trouble) {
    const bool wasConnected = link.server.connected();
    bool given = false;
    const auto counted = [&](const journal::JobRecord& r) {
        given = true;
        return each(r);
    };
    bool read = journal::forEachWorkshopRecord(link.server, link.store, filter, counted);
    // A connection the server dropped since (a restart): once more, anew, unless rows came already.
    if (!read && !given && wasConnected && !link.server.connected())
        read = journal::forEachWorkshopRecord(link.server, link.store, filter, counted);
    if (!read) {
        trouble.problem = link.server.problem();
        trouble.needsPassword = link.server.needsPassword();
    }
    return read;
}

WorkshopRecords workshopRecords(ServerQueries::Link& link, journal::RecordFilter filter, std::size_t limit) {
    filter.limit = limit;
    WorkshopRecords out;
    std::vector<journal::JobRecord> records;
    ServerTrouble trouble;
    if (!eachWorkshopRecord(
            link, filter,
            [&](const journal::JobRecord& r) {
                records.push_back(r);
                return true;
            },
            trouble)) {
        out.problem = trouble.problem;
        out.needsPassword = trouble.needsPassword;
        return out;
    }
    out.records = std::move(records);
    return out;
}
