#include "Embedded.h"

EmbeddedResource embeddedResource(const std::string& name) {
    for (const EmbeddedTable* e = kEmbeddedTable; e->name; ++e)
        if (name == e->name)
            return EmbeddedResource{e->data, e->size};
    return {};
}

std::string embeddedText(const std::string& name) {
    const EmbeddedResource r = embeddedResource(name);
    return r ? std::string(reinterpret_cast<const char*>(r.data), r.size) : std::string();
}
