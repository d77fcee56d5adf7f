#pragma once
// The workshop server as the desktop program uses it: the connection string in
// use, a password the user typed for it (kept in memory only), the sync worker
// that sends this PC's records, and the thread of the windows' reads. The main
// window owns it; the journal window borrows it. Nothing here waits on the
// server: the sync worker and the reads end without waiting for a call in flight.
#include "ServerQueries.h"
#include "SyncWorker.h"

#include <QObject>
#include <memory>
#include <mutex>
#include <string>

class WorkshopServer : public QObject {
    Q_OBJECT
public:
    // journalPath: this PC's journal; canSend: it can be written (a sent
    // record is marked there), else nothing is sent from it.
    WorkshopServer(std::string journalPath, bool canSend, QObject* parent = nullptr);
    ~WorkshopServer() override;

    // "" when the journal stays on this PC.
    const std::string& conninfo() const { return conninfo_; }
    const std::string& password() const { return password_; }
    bool isSet() const { return !conninfo_.empty(); }
    // Uses this server from now on ("": none): the sync worker and the reads
    // are made anew for it; calls waiting for the old one are dropped.
    void use(const std::string& conninfo, const std::string& password = {});

    // Records were written: the sync worker sends them soon. From any thread.
    void recordsWritten();
    // The reads' thread; null when no server is set.
    ServerQueries* queries() const { return queries_.get(); }
    const std::string& journalPath() const { return journalPath_; }

signals:
    // Another server (or none) is in use.
    void changed();

private:
    std::string journalPath_, conninfo_, password_;
    bool canSend_;
    mutable std::mutex syncMutex_; // the worker, for writes told from a runner's thread
    std::unique_ptr<journal::SyncWorker> sync_;
    std::unique_ptr<ServerQueries> queries_;
};
