// createMessage on an arbitrary type word and payload: never reads outside the
// payload; whatever it builds serialises to a frame the factory builds again.
#include "Messages.h"

#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2 || size > 2 + 1016)
        return 0;
    const auto word = static_cast<std::uint16_t>(data[0] | data[1] << 8);
    std::vector<unsigned char> payload(data + 2, data + size);
    auto m = sorka::kbt::messages::createMessage(word, payload.empty() ? nullptr : payload.data(),
                                                 static_cast<std::uint16_t>(payload.size()));
    if (!m)
        return 0;
    if (m->type() != (word & 0x7FFF) || m->flag() != ((word & 0x8000) != 0))
        __builtin_trap();
    auto frame = m->serialize();
    const auto n = static_cast<std::uint16_t>(frame[2] | frame[3] << 8);
    std::vector<unsigned char> again(frame.get() + 4, frame.get() + 4 + n);
    if (!sorka::kbt::messages::createMessage(static_cast<std::uint16_t>(frame[0] | frame[1] << 8),
                                             again.empty() ? nullptr : again.data(), n))
        __builtin_trap();
    return 0;
}
