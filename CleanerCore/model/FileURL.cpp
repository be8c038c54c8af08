#include "CleanerCore/model/FileURL.h"

namespace kb {
namespace {

constexpr std::string_view scheme = "file://";

bool isPathCharacter(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
        return true;
    }
    return std::string_view("!$&'()*+,-./:=@_~").find(static_cast<char>(c)) !=
           std::string_view::npos;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

void appendEncoded(std::string& out, std::string_view path) {
    static constexpr char hex[] = "0123456789ABCDEF";
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if (isPathCharacter(c)) {
            out += ch;
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0xF];
        }
    }
}

// `encodedPath` was validated by parse() or produced by appendEncoded().
std::string decodePath(std::string_view encodedPath) {
    std::string out;
    out.reserve(encodedPath.size());
    for (size_t i = 0; i < encodedPath.size(); ++i) {
        if (encodedPath[i] == '%' && i + 2 < encodedPath.size()) {
            out +=
                static_cast<char>(hexValue(encodedPath[i + 1]) * 16 + hexValue(encodedPath[i + 2]));
            i += 2;
        } else {
            out += encodedPath[i];
        }
    }
    return out;
}

std::string_view trimTrailingSlashes(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') {
        path.remove_suffix(1);
    }
    return path;
}

}  // namespace

std::optional<FileURL> FileURL::fromPath(std::string_view path, Kind kind) {
    if (path.empty() || path.front() != '/' || path.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    path = trimTrailingSlashes(path);
    std::string url(scheme);
    url.reserve(scheme.size() + path.size() + 8);
    appendEncoded(url, path);
    if ((kind == Kind::directory || path == "/") && url.back() != '/') {
        url += '/';
    }
    return FileURL(std::move(url));
}

std::optional<FileURL> FileURL::parse(std::string_view urlString) {
    if (!urlString.starts_with(scheme)) {
        return std::nullopt;
    }
    std::string_view path = urlString.substr(scheme.size());
    if (path.starts_with("localhost")) {
        path.remove_prefix(std::string_view("localhost").size());
    }
    if (path.empty() || path.front() != '/') {
        return std::nullopt;
    }
    for (size_t i = 0; i < path.size(); ++i) {
        const auto c = static_cast<unsigned char>(path[i]);
        if (c == '%') {
            if (i + 2 >= path.size() || hexValue(path[i + 1]) < 0 || hexValue(path[i + 2]) < 0 ||
                (path[i + 1] == '0' && path[i + 2] == '0')) {
                return std::nullopt;
            }
            i += 2;
        } else if (c <= 0x20 || c >= 0x7F || c == '?' || c == '#') {
            return std::nullopt;
        }
    }
    return FileURL(std::string(scheme) + std::string(path));
}

std::string FileURL::path() const {
    const std::string_view encoded = std::string_view(url_).substr(scheme.size());
    return std::string(trimTrailingSlashes(decodePath(encoded)));
}

FileURL FileURL::appending(std::string_view relativePath, Kind kind) const {
    std::string url = url_;
    while (!relativePath.empty() && relativePath.front() == '/') {
        relativePath.remove_prefix(1);
    }
    relativePath = relativePath.empty() ? relativePath : trimTrailingSlashes(relativePath);
    if (!relativePath.empty() && url.back() != '/') {
        url += '/';
    }
    appendEncoded(url, relativePath);
    if (kind == Kind::directory && url.back() != '/') {
        url += '/';
    } else if (kind == Kind::file && url.back() == '/' && url.size() > scheme.size() + 1) {
        url.pop_back();
    }
    return FileURL(std::move(url));
}

std::string FileURL::lastPathComponent() const {
    const std::string full = path();
    return full.substr(full.rfind('/') + 1);
}

}  // namespace kb

namespace kb::json {

boost::json::value Codec<FileURL>::encode(const FileURL& value) {
    return boost::json::value(boost::json::string_view(value.absoluteString()));
}

FileURL Codec<FileURL>::decode(const boost::json::value& value) {
    const std::string_view text = expectString(value, "URL");
    auto url = FileURL::parse(text);
    if (!url) {
        failDecode("URL: not an absolute file URL: \"" + std::string(text) + "\"");
    }
    return *std::move(url);
}

}  // namespace kb::json
