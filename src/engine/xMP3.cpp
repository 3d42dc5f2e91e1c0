// MP3 files compared by their ID3 version 1 tags.

#include "xEngine.h"

std::unique_ptr<TMP3Data> TEngine::ReadMP3Tag(const std::string&, std::uint32_t, std::int64_t) { return nullptr; }

bool TEngine::CompareTags(const TMP3Data&, const TMP3Data&) { return false; }
