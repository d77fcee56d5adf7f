// The parameter description loader on arbitrary documents: a model or a report,
// never a crash, and never both a report and parameters.
#include "ParameterList.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ParameterList list(std::string(reinterpret_cast<const char*>(data), size));
    if (!list.parseError().empty() && !list.parameters().empty())
        __builtin_trap();
    for (const auto& p : list.parameters())
        list.ValueTextByKey(p.key);
    list.ResetToDefaults();
    list.SettingsText();
    return 0;
}
