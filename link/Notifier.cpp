#include "Notifier.h"

#include <cstdio>

namespace z58 {
namespace {

class StderrNotifier final : public Notifier {
public:
    void message(OwnerHandle, const std::string& text, const std::string& caption) override {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    }
};

StderrNotifier g_default;
Notifier* g_current = &g_default;

} // namespace

Notifier& notifier() { return *g_current; }

Notifier* setNotifier(Notifier* n) {
    Notifier* previous = g_current;
    g_current = n ? n : &g_default;
    return previous == &g_default ? nullptr : previous;
}

} // namespace z58
