#pragma once
// The data built into every program: "blow" (firmware resource), "wave_list"
// (sound bank) and "PARAMETER_LIST" (parameter description), reached by name.
#include <cstddef>
#include <string>

struct EmbeddedResource {
    const unsigned char* data = nullptr;
    std::size_t size = 0;
    explicit operator bool() const { return data != nullptr; }
};

// The named resource, or an empty one when there is none of that name.
EmbeddedResource embeddedResource(const std::string& name);
// The named resource's bytes as a string (empty when there is none).
std::string embeddedText(const std::string& name);

struct EmbeddedTable {
    const char* name;
    const unsigned char* data;
    std::size_t size;
};
extern const EmbeddedTable kEmbeddedTable[];
