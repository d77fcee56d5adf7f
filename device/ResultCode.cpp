#include "ResultCode.h"

namespace result {
const char* describe(int code) {
    switch (code) {
    case kOk: return "успешно";
    case kPortFailed: return "порт не открывается (нет такого порта или он занят)";
    case kNoReply: return "устройство не ответило вовремя";
    case kBadReply: return "непригодный ответ устройства";
    case kTooLong: return "данные не помещаются в один кадр, ничего не отправлено";
    default: return "неизвестная ошибка";
    }
}
} // namespace result
