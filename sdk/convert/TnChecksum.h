// The 64-bit checksum of the compressed format: the XXH64 function of
// Yann Collet (seed 0), which reads its input at several gigabytes a second.
#ifndef TN_CHECKSUM_H
#define TN_CHECKSUM_H

#include <stddef.h>
#include <stdint.h>

#include "TnExport.h"

namespace tn
{
namespace convert
{
TN_BUFFER_RECEIVE_API uint64_t Checksum64(const void *aData, size_t aLength);
} // namespace convert
} // namespace tn

#endif
