#pragma once
// What the firmware and sound jobs share: the upload slot they hold, the data
// in 1024-byte blocks one per tick with the bar a step per block, the
// finishing tick after the last block, and the CRC commit. A failed block or
// an unconfirmed CRC is said once and ends the upload; nothing is retried.
#include "Job.h"
#include "Upload.h"
#include "UploadSlot.h"

namespace jobs {

class UploadJob : public Job {
public:
    ~UploadJob() override;

protected:
    UploadJob(JobHost& host, DevicePtr device, UploadKind kind, Pace pace);

    // Takes the upload slot; false (with the refusal told) when the other upload holds it.
    bool claim();
    // Ends the job and lets the slot go.
    std::optional<Exchange> stop(Outcome outcome);

    // The controller is ready: the bar's range, then the first block.
    std::optional<Exchange> firstBlock(const unsigned char* stream, size_t size, std::uint32_t crc, std::uint32_t length,
                                       int barMaximum);
    // A block's result: the next block, the finishing tick, or the end after a
    // failure (cancelledLine: the window's log line after its box).
    std::optional<Exchange> afterBlock(int result, const std::string& cancelledLine);
    bool allSent() const { return upload_ && upload_->allSent(); }
    // The finishing tick: the bar full, then the commit.
    std::optional<Exchange> commit();
    // The commit's result: false when the CRC was not confirmed (told; the job has ended).
    bool committed(int result, const std::string& cancelledLine);

private:
    std::optional<Exchange> block();

    UploadKind kind_;
    Pace pace_;
    std::optional<UploadStepper> upload_;
    int bar_ = 0, barMaximum_ = 0;
};

} // namespace jobs
