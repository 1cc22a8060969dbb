// Conversions between UTF-8 and wide characters that keep undecodable bytes.
//
// A byte that is not part of a valid UTF-8 sequence decodes to the code point
// U+DC00 plus the byte (U+DC80 to U+DCFF), and such a code point encodes back
// to the byte it came from, so any byte string survives a round trip.
#ifndef TN_UTF8_H
#define TN_UTF8_H

#include <stdint.h>

#include <string>

#include "TnExport.h"

namespace tn
{
TN_BASE_API std::wstring DecodeUtf8(const char *aText, size_t aLength);
TN_BASE_API std::string EncodeUtf8(const wchar_t *aText, size_t aLength);
} // namespace tn

#endif
