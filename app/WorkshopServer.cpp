#include "WorkshopServer.h"

WorkshopServer::WorkshopServer(std::string journalPath, bool canSend, QObject* parent)
    : QObject(parent), journalPath_(std::move(journalPath)), canSend_(canSend) {}

WorkshopServer::~WorkshopServer() = default;

void WorkshopServer::use(const std::string& conninfo, const std::string& password) {
    std::unique_ptr<journal::SyncWorker> old;
    {
        std::lock_guard<std::mutex> lock(syncMutex_);
        old = std::move(sync_);
        if (!conninfo.empty() && canSend_)
            sync_ = std::make_unique<journal::SyncWorker>(journalPath_, conninfo, std::chrono::seconds(30), password);
    }
    old.reset(); // never waits: a pass in flight ends alone
    conninfo_ = conninfo;
    password_ = conninfo.empty() ? std::string() : password;
    queries_.reset();
    if (!conninfo_.empty())
        queries_ = std::make_unique<ServerQueries>(conninfo_, password_, journalPath_);
    emit changed();
}

void WorkshopServer::recordsWritten() {
    std::lock_guard<std::mutex> lock(syncMutex_);
    if (sync_)
        sync_->kick();
}
