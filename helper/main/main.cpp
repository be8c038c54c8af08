// Process entry of dev.kestrelbay.helper.
//
//   dev.kestrelbay.helper                      service mode
//   dev.kestrelbay.helper --oneshot FILE       run one request from FILE
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <string_view>

#include "helper/OneShot.h"
#include "helper/ServiceMode.h"

int main(int argc, char** argv) {
    if (argc <= 1) {
        kb::runServiceMode();
    }
    if (argc == 3 && std::string_view(argv[1]) == "--oneshot") {
        std::exit(static_cast<int>(kb::runOneShot(argv[2])));
    }
    static constexpr std::string_view usage =
        "usage: dev.kestrelbay.helper [--oneshot <request.json>]\n";
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, usage.data(), usage.size());
    std::exit(static_cast<int>(kb::ExitStatus::usage));
}
