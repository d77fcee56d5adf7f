#pragma once
// The windows' calls to the workshop server, on a thread of their own: one at
// a time over one connection (and a connection of its own to this PC's
// journal), each result handed back on the user-interface thread as a queued
// call. A call still waiting is replaced by a newer one of its kind, so a
// filter typed letter by letter asks once for the last, and a silent server
// costs the windows one time-out, not one per keystroke. Nothing here waits:
// at its end a call in flight finishes alone on its thread (within the
// server's time-outs) and its result goes nowhere.
#include "JournalStore.h"
#include "ServerJournal.h"

#include <QObject>
#include <QPointer>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class ServerQueries : public QObject {
    Q_OBJECT
public:
    // What a call works with, on the thread.
    struct Link {
        journal::ServerJournal& server;
        journal::JournalStore& store; // this PC's journal
    };

    // password: one the user typed (memory only), or none.
    ServerQueries(std::string conninfo, std::string password, std::string journalPath, QObject* parent = nullptr);
    ~ServerQueries() override;

    // Runs work on the thread, then done with its result on this object's
    // thread, unless this object or context went first. A call of the same
    // kind not started yet is dropped for this one.
    template <class R>
    void run(const char* kind, QObject* context, std::function<R(Link&)> work, std::function<void(R)> done) {
        auto result = std::make_shared<std::optional<R>>();
        post(kind, context, [work = std::move(work), result](Link& link) { result->emplace(work(link)); },
             [done = std::move(done), result] { done(std::move(**result)); });
    }

private:
    struct Call {
        std::string kind;
        std::function<void(Link&)> work;
        std::function<void()> done; // on this object's thread
    };
    struct State {
        std::mutex mutex;
        std::condition_variable wake;
        std::deque<Call> calls;
        bool stop = false;
        ServerQueries* owner = nullptr; // cleared, under the mutex, as the owner goes
    };
    void post(const char* kind, QObject* context, std::function<void(Link&)> work, std::function<void()> done);
    static void loop(std::shared_ptr<State> state, std::string conninfo, std::string password, std::string journalPath);

    std::shared_ptr<State> state_ = std::make_shared<State>();
};

// Why the workshop's records could not be read.
struct ServerTrouble {
    std::string problem;
    bool needsPassword = false;
};
// The workshop's records of a filter, newest first, one at a time until each
// returns false (journal::forEachWorkshopRecord): the server's, with this PC's
// it lacks among them (waiting, or refused and set aside). A connection the
// server dropped since the last call is made anew once. False, and why, when
// the server cannot be read.
bool eachWorkshopRecord(ServerQueries::Link& link, const journal::RecordFilter& filter,
                        const std::function<bool(const journal::JobRecord&)>& each, ServerTrouble& trouble);

// The same, the newest limit of them (0: all) held in a list. None, and why,
// when the server cannot be read.
struct WorkshopRecords {
    std::optional<std::vector<journal::JobRecord>> records;
    std::string problem;
    bool needsPassword = false;
};
WorkshopRecords workshopRecords(ServerQueries::Link& link, journal::RecordFilter filter, std::size_t limit);
