#include "PortSearchJob.h"

#include "Device.h"
#include "PortList.h"
#include "PortProblem.h"

namespace jobs {

std::optional<Work> PortSearchJob::step(int result) {
    if (!started_) {
        started_ = true;
        // What keeps each present port from being used is asked in the same
        // exchange, before another exchange may open one of them.
        Work e = call([this](DeviceInterface& d) {
            if (d.FindDevicePort(report_)) {
                found_ = d.PortName();
                return 1;
            }
            for (const PresentPort& p : refreshPortNames()) {
                if (p.name.empty() || context().portInUse(p.name))
                    continue;
                if (const std::string why = portProblem(p.name); !why.empty())
                    problems_.push_back(p.name + ": " + why);
            }
            return 0;
        }, kReplyTimeoutMs);
        e.search = true;
        return e;
    }
    if (result > 0) {
        host_.tell(Notice{report_, "Устройство найдено", {}, true, false});
        return end(Outcome::Done);
    }
    host_.tell(Notice{"Устройство не найдено", "Внимание", {}, false, false});
    for (const std::string& line : problems_)
        host_.log(line);
    return end(Outcome::Failed);
}

} // namespace jobs
