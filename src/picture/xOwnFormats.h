#pragma once
// Readers of our own for formats no installed library reads.

#include <string>

#include "xPicDecode.h"

TDecodeResult DecodePsd(const std::string& path, TPictureSink& sink);  // psd, pdd: the flattened composite
TDecodeResult DecodeCel(const std::string& path, TPictureSink& sink);  // cel, pic: Autodesk Animator
TDecodeResult DecodePsp(const std::string& path, TPictureSink& sink);  // psp: Paint Shop Pro
TDecodeResult DecodeEmf(const std::string& path, TPictureSink& sink);  // emf: enhanced metafiles
