#include "PortSearchJob.h"

#include "Device.h"
#include "PortList.h"
#include "PortProblem.h"

namespace jobs {

std::optional<Exchange> PortSearchJob::step(int result) {
    if (!started_) {
        started_ = true;
        Exchange e = call([this](DeviceInterface& d) { return d.FindDevicePort(report_) ? 1 : 0; }, kReplyTimeoutMs);
        e.search = true;
        return e;
    }
    if (result > 0) {
        host_.tell(Notice{report_, "Устройство найдено", {}, true, false});
        return end(Outcome::Done);
    }
    host_.tell(Notice{"Устройство не найдено", "Внимание", {}, false, false});
    for (const PresentPort& p : refreshPortNames()) {
        if (p.name.empty())
            continue;
        if (const std::string why = portProblem(p.name); !why.empty())
            host_.log(p.name + ": " + why);
    }
    return end(Outcome::Failed);
}

} // namespace jobs
