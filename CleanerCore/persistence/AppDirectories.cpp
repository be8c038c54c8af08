#include "CleanerCore/persistence/AppDirectories.h"

#include <string>

namespace kb::AppDirectories {

FileURL supportDirectory(const FileURL& home) {
    return home.appending("Library/Application Support/" + std::string(appIdentifier),
                          FileURL::Kind::directory);
}

}  // namespace kb::AppDirectories
