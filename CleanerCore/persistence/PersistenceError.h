// The failure of a store or journal operation: a system call that failed (with its step,
// path and error number), a file whose contents do not decode, a value that cannot be
// encoded, or an argument refused before anything was touched.
#pragma once

#include <string>
#include <variant>

#include "platform/SystemError.h"

namespace kb {

struct PersistenceError {
    struct Io {
        SystemError error;
        bool operator==(const Io&) const = default;
    };
    struct Decoding {
        std::string path;
        std::string message;
        bool operator==(const Decoding&) const = default;
    };
    struct Encoding {
        std::string message;
        bool operator==(const Encoding&) const = default;
    };
    struct InvalidArgument {
        std::string message;
        bool operator==(const InvalidArgument&) const = default;
    };

    std::variant<Io, Decoding, Encoding, InvalidArgument> kind;

    // One line for logs, e.g. "open /x/y.json: Permission denied".
    std::string describe() const;

    bool operator==(const PersistenceError&) const = default;
};

}  // namespace kb
