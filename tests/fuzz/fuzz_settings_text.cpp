// Loading a settings text and writing it again: the written text loads to the
// same values, so a second round gives exactly the same text.
#include "Embedded.h"
#include "ParameterList.h"

#include <string>

namespace {
ParameterList& model() {
    static ParameterList list(embeddedText("PARAMETER_LIST"));
    return list;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ParameterList& list = model();
    list.LoadSettingsText(std::string(reinterpret_cast<const char*>(data), size));
    const std::string first = list.SettingsText();
    list.LoadSettingsText(first);
    if (list.SettingsText() != first)
        __builtin_trap();
    return 0;
}
