#include "SyncWorker.h"

#include <atomic>

namespace journal {

namespace {
std::atomic<int> leftPasses{0};
} // namespace

int SyncWorker::leftRunning() { return leftPasses.load(); }

SyncPass syncWaiting(JournalStore& store, ServerJournal& server, std::size_t batch) {
    SyncPass pass;
    RecordFilter waiting;
    waiting.waitingOnly = true;
    waiting.limit = batch;
    for (;;) {
        std::vector<JobRecord> records = store.list(waiting);
        if (records.empty()) {
            if (!store.problem().empty())
                pass.problem = store.problem();
            break;
        }
        // A list leaves the backup texts out: the server keeps them too.
        for (JobRecord& r : records)
            if (!r.backupFile.empty())
                if (std::optional<JobRecord> whole = store.find(r.id))
                    r.backupText = std::move(whole->backupText);
        const std::vector<SentRecord> result = server.send(records);
        std::vector<JournalStore::SentMark> sent, refused;
        for (size_t i = 0; i < records.size(); ++i) {
            if (result[i].delivery == Delivery::Stored)
                sent.push_back({records[i].id, records[i].revision, {}});
            else if (result[i].delivery == Delivery::Refused)
                refused.push_back({records[i].id, records[i].revision, result[i].reason});
        }
        pass.reached = pass.reached || server.connected();
        const std::size_t marked = store.markSent(sent);
        pass.sent += marked;
        if (!refused.empty()) {
            store.markRefused(refused);
            pass.refused += refused.size();
            pass.problem = "сервер не принял запись: " + refused.back().reason;
        }
        if (sent.size() + refused.size() < records.size()) {
            pass.problem = server.problem();
            break;
        }
        // Only what moved on: a batch of refusals is tried again next pass.
        if (marked == 0 || records.size() < batch)
            break;
    }
    pass.waiting = store.waitingCount().value_or(0);
    if (pass.waiting == 0 && pass.refused == 0)
        pass.problem.clear();
    return pass;
}

SyncWorker::SyncWorker(std::string journalPath, std::string conninfo, std::chrono::milliseconds period,
                       std::string password)
    : thread_(loop, state_, std::move(journalPath), std::move(conninfo), period, std::move(password)) {}

SyncWorker::~SyncWorker() {
    std::unique_lock<std::mutex> lock(state_->mutex);
    state_->stop = true;
    const bool inFlight = state_->busy;
    if (inFlight) {
        state_->left = true;
        ++leftPasses;
    }
    lock.unlock();
    state_->wake.notify_all();
    if (inFlight)
        thread_.detach();
    else
        thread_.join();
}

void SyncWorker::kick() {
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->kicked = true;
    }
    state_->wake.notify_all();
}

SyncPass SyncWorker::last() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->last;
}

bool SyncWorker::busy() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->busy || state_->kicked;
}

std::size_t SyncWorker::passes() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->passes;
}

void SyncWorker::loop(std::shared_ptr<State> state, std::string path, std::string conninfo,
                      std::chrono::milliseconds period, std::string password) {
    bool left = false;
    {
        // Both its own: the store's other users and the server never wait on this thread.
        JournalStore store(path);
        ServerJournal server(conninfo);
        server.setPassword(std::move(password));
        std::unique_lock<std::mutex> lock(state->mutex);
        for (;;) {
            state->wake.wait_for(lock, period, [&] { return state->stop || state->kicked; });
            if (state->stop)
                break;
            state->kicked = false;
            state->busy = true;
            lock.unlock();
            const SyncPass pass = syncWaiting(store, server);
            lock.lock();
            if (state->left) {
                left = true;
                break;
            }
            state->busy = false;
            state->last = pass;
            ++state->passes;
            state->wake.notify_all();
        }
    }
    // Counted down only once its connections are closed.
    if (left)
        --leftPasses;
}

} // namespace journal
