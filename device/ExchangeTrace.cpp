#include "ExchangeTrace.h"

#include "Messages.h"

namespace msg = sorka::kbt::messages;

void ExchangeTrace::add(TraceEntry entry) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ring_.size() < kCapacity) {
        ring_.push_back(std::move(entry));
    } else {
        ring_[next_] = std::move(entry);
    }
    next_ = (next_ + 1) % kCapacity;
    ++total_;
}

std::vector<TraceEntry> ExchangeTrace::entries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ring_.size() < kCapacity)
        return ring_;
    std::vector<TraceEntry> out(ring_.begin() + static_cast<long>(next_), ring_.end());
    out.insert(out.end(), ring_.begin(), ring_.begin() + static_cast<long>(next_));
    return out;
}

std::uint64_t ExchangeTrace::total() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return total_;
}

void ExchangeTrace::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    ring_.clear();
    next_ = 0;
    total_ = 0;
}

std::string messageTypeName(std::int16_t type) {
    namespace t = msg::type;
    switch (type) {
    case t::Null: return "Null";
    case t::ReqIdInfo: return "ReqIdInfo";
    case t::IdInfo: return "IdInfo";
    case t::ExtendedIdInfo: return "ExtendedIdInfo";
    case t::IdSet: return "IdSet";
    case t::ReqVersion: return "ReqVersion";
    case t::Restart: return "Restart";
    case t::StartCalibration: return "StartCalibration";
    case t::ReqDiagnostic: return "ReqDiagnostic";
    case t::Diagnostic: return "Diagnostic";
    case t::Text: return "Text";
    case t::CommitUpdate: return "CommitUpdate";
    case t::CommitUpdateAck: return "CommitUpdateAck";
    case t::DataFragment: return "DataFragment";
    case t::DataFragmentAck: return "DataFragmentAck";
    case t::BeginUpdateAck: return "BeginUpdateAck";
    case t::BeginFirmwareUpdate: return "BeginFirmwareUpdate";
    case t::BeginWaveUpdate: return "BeginWaveUpdate";
    case t::ReqSettings: return "ReqSettings";
    case t::Settings: return "Settings";
    default: return std::to_string(type);
    }
}
