#pragma once
// JPEG decoding for pictures that are shown small: libjpeg scales while it decodes (1/2, 1/4,
// 1/8), which makes a thumbnail of a large photograph several times faster than decoding it
// whole and reducing it. The analysis keeps DecodeJpeg (xPicDecode.h), always at full size.

#include <string>

#include "xPicDecode.h"

// The picture at the smallest of libjpeg's scales whose width and height are still at least
// minWidth x minHeight (the full size when none is that large); the sink sees the scaled size.
// With 0 x 0 it decodes exactly as DecodeJpeg does.
TDecodeResult DecodeJpegReduced(const std::string& path, TPictureSink& sink, int minWidth, int minHeight);
