#include "xOwnFormats.h"

// Not yet readable: each fails the way an undecodable file does.
TDecodeResult DecodePsd(const std::string&, TPictureSink&) { return TDecodeResult::Failed; }
TDecodeResult DecodeCel(const std::string&, TPictureSink&) { return TDecodeResult::Failed; }
TDecodeResult DecodePsp(const std::string&, TPictureSink&) { return TDecodeResult::Failed; }
TDecodeResult DecodeEmf(const std::string&, TPictureSink&) { return TDecodeResult::Failed; }
