#pragma once
// One upload at a time on a controller: two uploads interleaved would write
// two images into one flash. The firmware or sound job holds its runner's slot
// from before its begin request to the end of its commit; the other upload
// cannot begin meanwhile. A new upload of the same kind takes the slot over
// (the sound bank started again); its runner drops the old job.
namespace jobs {

class Job;
enum class UploadKind { None, Firmware, Sound };

class UploadSlot {
public:
    // false when an upload of the other kind holds the slot.
    bool claim(const Job* job, UploadKind kind);
    void release(const Job* job);
    bool holds(const Job* job) const { return holder_ == job && job; }
    UploadKind busy() const { return kind_; }

private:
    const Job* holder_ = nullptr;
    UploadKind kind_ = UploadKind::None;
};

} // namespace jobs
