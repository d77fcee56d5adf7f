#pragma once
// Installs itself as the program-wide notifier for its lifetime and records messages.
#include "Notifier.h"

#include <string>
#include <vector>

struct RecordingNotifier : z58::Notifier {
    struct Entry {
        z58::OwnerHandle owner;
        std::string text, caption;
    };
    std::vector<Entry> entries;
    z58::Notifier* previous;
    RecordingNotifier() : previous(z58::setNotifier(this)) {}
    ~RecordingNotifier() override { z58::setNotifier(previous); }
    void message(z58::OwnerHandle owner, const std::string& text, const std::string& caption) override {
        entries.push_back({owner, text, caption});
    }
};
