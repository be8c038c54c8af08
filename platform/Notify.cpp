#include "platform/Notify.h"

#include <systemd/sd-daemon.h>

namespace kb::Notify {

void ready() {
    ::sd_notify(0, "READY=1");
}

void stopping() {
    ::sd_notify(0, "STOPPING=1");
}

}  // namespace kb::Notify
