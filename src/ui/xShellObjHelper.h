#pragma once
// What the desktop knows about a file, for its thumbnail: the freedesktop thumbnail cache that
// file managers fill ($XDG_CACHE_HOME/thumbnails), our own decoders for pictures it holds
// nothing current for, and the icon theme's icon of the file's type.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include <QImage>

struct stat;

// Raised when the file cannot be reached at all (deleted after the search, say).
class EShellFailure : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// The file's URI as the thumbnail cache spells it: "file://" and the path with every byte
// escaped that GLib escapes in a path (so that the names match those GNOME's thumbnailers wrote).
std::string ThumbnailUri(const std::string& path);

// $XDG_CACHE_HOME/thumbnails, or ~/.cache/thumbnails when that is unset or relative.
std::string ThumbnailCacheFolder();

// The cache's file for a URI in one of its size folders ("normal", "large", ...): the MD5 of
// the URI in lower-case hex, ".png".
std::string CachedThumbnailFile(const std::string& uri, const std::string& sizeFolder);

// How a file's thumbnail is made: from a current cache entry (Cached set), or by decoding the
// picture itself.
struct TExtractImage {
  std::string FileName;
  QImage Cached;
};

// The thumbnail source of a file: a cache entry whose Thumb::URI, Thumb::MTime (and Thumb::Size
// where given) match the file, else the picture itself when its type is one we decode; none
// for other types. Raises EShellFailure when the file cannot be stat()ed.
std::optional<TExtractImage> GetExtractImage(const std::string& fileName);

// The thumbnail, reduced (never enlarged) to fit width x height with its aspect kept; none when
// the picture does not decode (a trace goes to the debug output). A picture decoded here is
// stored in the cache at its normal size (128 pixels) for the next time, as file managers do.
std::optional<QImage> ExtractThumbnail(const TExtractImage& extractor, int width, int height);

// Stores a thumbnail of the file (as it was when `info` was taken) in the cache's "normal"
// folder, atomically and readable by the user only. False when it cannot be written.
bool StoreThumbnail(const std::string& fileName, const QImage& thumbnail, const struct stat& info);

// The icon of the file's type from the desktop's icon theme, at most size x size; where the
// theme has none, a page of our own with the extension written on it. Never empty.
QImage GetShellIcon(const std::string& fileName, int size);
