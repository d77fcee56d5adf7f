// The editor's value check on arbitrary edit texts for every parameter: a number
// that passes lies within its limits.
#include "Embedded.h"
#include "NumberText.h"
#include "ValueCheck.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static ParameterList list(embeddedText("PARAMETER_LIST"));
    if (size < 1 || list.parameters().empty())
        return 0;
    const Parameter& p = list.parameters()[data[0] % list.parameters().size()];
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    const CheckResult r = CheckValue(p, text);
    if (r.ok && p.type == ParameterType::Number) {
        const auto v = textToInt32(text);
        if (!v || static_cast<double>(*v) < p.min || static_cast<double>(*v) > p.max)
            __builtin_trap();
    }
    if (!r.ok && r.message.empty())
        __builtin_trap();
    SmsCommandText(list, p, text);
    return 0;
}
