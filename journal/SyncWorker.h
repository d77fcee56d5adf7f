#pragma once
// Hands this PC's waiting records to the workshop server: a thread of its own
// with its own connection to the local journal and to the server, never a
// job's or a window's. A pass sends what waits in batches and marks what the
// server took; what it could not send waits for the next pass (every call is
// bounded, so a server gone mid-batch costs a pass, never a record). A record
// sent twice (a reply lost, a program killed between the server's commit and
// the mark here) is stored once: the id is the server's key.
#include "JournalStore.h"
#include "ServerJournal.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace journal {

struct SyncPass {
    std::size_t sent = 0;     // records the server took in this pass
    std::size_t refused = 0;  // records it refused (set aside after a few tries)
    std::size_t waiting = 0;  // still waiting after it
    bool reached = false;     // the server answered
    std::string problem;      // why records still wait ("" when none does for a reason)
};

// One pass over store's waiting records, batch at a time, on the caller's thread.
SyncPass syncWaiting(JournalStore& store, ServerJournal& server, std::size_t batch = 500);

class SyncWorker {
public:
    // The journal at journalPath, the server of conninfo; a pass at once, then
    // every period and whenever kicked.
    // password: one the user typed (kept in memory only), or none.
    SyncWorker(std::string journalPath, std::string conninfo,
               std::chrono::milliseconds period = std::chrono::seconds(30), std::string password = {});
    // Stops it: at once when idle; a pass in flight is left to end by itself
    // (within the server's time-outs) on its own thread, which nobody waits for,
    // so closing a window or ending z58ctl never waits on a server.
    ~SyncWorker();
    SyncWorker(const SyncWorker&) = delete;
    SyncWorker& operator=(const SyncWorker&) = delete;

    // Records were written: a pass soon.
    void kick();
    // The last pass, and whether one runs now.
    SyncPass last() const;
    bool busy() const;
    // Passes done so far.
    std::size_t passes() const;
    // Passes left to end on their own (their worker was destroyed while they
    // ran). The program must then end without running the libraries' exit
    // code under them (std::_Exit after flushing): what they did not send
    // waits in the journal, which is on disk.
    static int leftRunning();

private:
    // Shared with the thread, which may outlive this object.
    struct State {
        std::mutex mutex;
        std::condition_variable wake;
        bool stop = false, kicked = true, busy = false, left = false;
        std::size_t passes = 0;
        SyncPass last;
    };
    static void loop(std::shared_ptr<State> state, std::string path, std::string conninfo,
                     std::chrono::milliseconds period, std::string password);

    std::shared_ptr<State> state_ = std::make_shared<State>();
    std::thread thread_;
};

} // namespace journal
