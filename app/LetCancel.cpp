#include "Device.h"
#include "ExchangeWorker.h"

void letCancel(DeviceInterface* device) {
    if (auto* d = dynamic_cast<Device*>(device))
        d->SetCancelFlag(exchangeWorker().cancelFlag());
}
