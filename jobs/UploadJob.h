#pragma once
// What the firmware and sound jobs share: the upload slot they hold, the data
// in 1024-byte blocks one per tick with the bar a step per block, the
// finishing tick after the last block, and the CRC commit. A failed block or
// an unconfirmed CRC is said once and ends the upload; nothing is retried.
#include "Job.h"
#include "Upload.h"
#include "UploadSlot.h"

namespace jobs {

// The bytes of a carried resource (the firmware image or the sound bank as
// built into the program), borrowed for the job's life; checked when it starts.
struct Carried {
    const unsigned char* data = nullptr;
    std::size_t size = 0;
};

class UploadJob : public Job {
public:
    ~UploadJob() override;

protected:
    UploadJob(JobHost& host, UploadKind kind, Pace pace);
    void interrupted() override;

    // Takes the upload slot; false (with the refusal told) when the other upload holds it.
    bool claim();
    // Ends the job and lets the slot go.
    std::optional<Work> stop(Outcome outcome);

    // The controller is ready: the bar's range, then the first block.
    std::optional<Work> firstBlock(const unsigned char* stream, size_t size, std::uint32_t crc, std::uint32_t length,
                                       int barMaximum);
    // A block's result: the next block, the finishing tick, or the end after a
    // failure (cancelledLine: the window's log line after its box).
    std::optional<Work> afterBlock(int result, const std::string& cancelledLine);
    bool allSent() const { return upload_ && upload_->allSent(); }
    // The finishing tick: the bar full, then the commit.
    std::optional<Work> commit();
    // The commit's result: false when the CRC was not confirmed (told; the job has ended).
    bool committed(int result, const std::string& cancelledLine);

private:
    std::optional<Work> block();
    UploadSlot& slot() const { return *context().uploads; }

    UploadKind kind_;
    Pace pace_;
    std::optional<UploadStepper> upload_;
    int bar_ = 0, barMaximum_ = 0;
};

} // namespace jobs
