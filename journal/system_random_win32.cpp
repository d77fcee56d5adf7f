// Windows: the system-preferred generator of CNG.
#include "SystemRandom.h"

#include <windows.h>

#include <bcrypt.h>
#include <climits>

namespace journal {

bool systemRandom(unsigned char* out, std::size_t size) {
    if (size > ULONG_MAX)
        return false;
    return BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, out, static_cast<ULONG>(size), BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

} // namespace journal
