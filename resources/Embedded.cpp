#include "Embedded.h"

EmbeddedResource embeddedResource(const std::string& name) {
    for (const EmbeddedTable* e = kEmbeddedTable; e->name; ++e)
        if (name == e->name)
            return EmbeddedResource{e->data, e->size};
    return {};
}
