#pragma once
// User notifications raised from inside the core (port configuration failures,
// the port search's report). The core has no GUI: the desktop program installs a
// message-box notifier, the CLI one that prints to stderr, tests a recorder.
#include <string>

namespace z58 {

// Opaque owner window handle: the desktop program passes its main window, the
// core only hands it back to the notifier.
using OwnerHandle = void*;

class Notifier {
public:
    virtual ~Notifier() = default;
    // Modal message with an OK button and no icon. Texts are UTF-8.
    virtual void message(OwnerHandle owner, const std::string& text, const std::string& caption) = 0;
};

// The program-wide notifier, like the system's message box: set once by the
// program (or a test); the default prints to stderr.
Notifier& notifier();
// Installs n (not owned); nullptr restores the default. Returns the previous one.
Notifier* setNotifier(Notifier* n);

} // namespace z58
