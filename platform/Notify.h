// Readiness and stopping notifications to the service manager. Without a
// service manager (NOTIFY_SOCKET unset) these do nothing.
#pragma once

namespace kb::Notify {

void ready();
void stopping();

}  // namespace kb::Notify
