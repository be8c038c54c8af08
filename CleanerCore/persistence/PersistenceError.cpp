#include "CleanerCore/persistence/PersistenceError.h"

#include "base/Overloaded.h"

namespace kb {

std::string PersistenceError::describe() const {
    return std::visit(
        Overloaded{
            [](const Io& v) { return v.error.describe(); },
            [](const Decoding& v) { return "cannot decode " + v.path + ": " + v.message; },
            [](const Encoding& v) { return "cannot encode: " + v.message; },
            [](const InvalidArgument& v) { return "invalid argument: " + v.message; },
        },
        kind);
}

}  // namespace kb
