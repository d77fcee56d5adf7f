#include "UploadSlot.h"

namespace jobs {

bool UploadSlot::claim(const Job* job, UploadKind kind) {
    if (kind_ != UploadKind::None && kind_ != kind && holder_ != job)
        return false;
    holder_ = job;
    kind_ = kind;
    return true;
}

void UploadSlot::release(const Job* job) {
    if (holder_ != job)
        return;
    holder_ = nullptr;
    kind_ = UploadKind::None;
}

} // namespace jobs
