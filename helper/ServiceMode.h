// Service mode: serve the application's connections until idle. Never returns.
#pragma once

namespace kb {

[[noreturn]] void runServiceMode();

}  // namespace kb
