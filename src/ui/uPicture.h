#pragma once
// Pictures for display: decoded by the program's own decoders (the same that analyse them), so
// that every picture the search can compare can be shown too, whatever its size.

#include <stdexcept>
#include <string>

#include <QImage>
#include <QSize>

// Raised when a picture cannot be shown; what() is the message for the user.
class EPictureLoad : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// The picture at its natural size or, with a bound, reduced (never enlarged) to fit into it
// with its aspect ratio kept, averaging the pixels while decoding so that a huge picture never
// sits in memory whole. Pictures with transparency keep it (premultiplied alpha).
QImage LoadToImage(const std::string& fileName, QSize bound = QSize());

// The size of a picture of `source` pixels reduced to fit into `bound`, aspect kept, at least 1 x 1.
QSize FittedSize(QSize source, QSize bound);
