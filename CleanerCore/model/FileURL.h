// A file URL: an absolute URL string such as
// "file:///Users/alice/Library/Application%20Support/x", compared and hashed by that string.
//
// Building from a path percent-encodes every byte outside the URL path character set
// (letters, digits and "!$&'()*+,-./:=@_~"), so a blank becomes "%20", "%" "%25", ";" "%3B" and
// non-ASCII text its UTF-8 bytes, each as "%XX" with upper-case hex digits. A directory URL
// ends with "/"; a file URL does not (except the root, which is always "file:///").
// No other normalization happens: "." and ".." and repeated slashes stay as they are, so two
// URLs naming the same item through different spellings are different values.
//
// JSON form: the absolute URL string. Decoding refuses anything that parse() refuses.
#pragma once

#include <compare>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "json/JsonCodec.h"

namespace kb {

class FileURL {
  public:
    enum class Kind { file, directory };

    // The URL of an absolute path. Nothing when `path` does not start with "/" or holds a
    // NUL byte. A trailing "/" in `path` is dropped for a file and added for a directory.
    static std::optional<FileURL> fromPath(std::string_view path, Kind kind = Kind::file);

    // Accepts "file://" or "file://localhost" followed by an absolute, well-formed path
    // ("%" followed by two hex digits; no blanks, controls, non-ASCII bytes, "?" or "#"; no
    // "%00"). Keeps the string as given apart from dropping "localhost".
    static std::optional<FileURL> parse(std::string_view urlString);

    const std::string& absoluteString() const { return url_; }

    // The percent-decoded path, without a trailing "/" (except the root "/").
    std::string path() const;

    bool isDirectory() const { return url_.back() == '/'; }

    // This URL with `relativePath` ("a/b", encoded as fromPath does) appended below it.
    // Appending "" gives this URL as `kind` says.
    FileURL appending(std::string_view relativePath, Kind kind = Kind::file) const;

    // The last path component, decoded ("" for the root).
    std::string lastPathComponent() const;

    bool operator==(const FileURL&) const = default;
    std::strong_ordering operator<=>(const FileURL&) const = default;

  private:
    explicit FileURL(std::string url) : url_(std::move(url)) {}
    std::string url_;
};

}  // namespace kb

template <>
struct std::hash<kb::FileURL> {
    std::size_t operator()(const kb::FileURL& url) const noexcept {
        return std::hash<std::string>()(url.absoluteString());
    }
};

namespace kb::json {

template <>
struct Codec<FileURL> {
    static boost::json::value encode(const FileURL& value);
    static FileURL decode(const boost::json::value& value);
};

}  // namespace kb::json
