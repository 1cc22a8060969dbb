// Memory that buffers, images and containers ask for: what the machine can
// hold, and blocks that read as zero without being committed before they are
// written.
#ifndef TN_MEMORY_H
#define TN_MEMORY_H

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string>

#include "TnExport.h"
#include "TnResult.h"

namespace tn
{
/// Gives back memory of AllocateZeroed.
struct TN_BASE_API ZeroedRelease
{
    size_t mSize = 0;
    void operator()(uint8_t *aMemory) const;
};

using ZeroedMemory = std::unique_ptr<uint8_t[], ZeroedRelease>;

/// aSize bytes that read as zero; null for 0 bytes, for more than the
/// machine can hold and when the system has none. Nothing is committed
/// before it is written: large blocks are mapped from the kernel's zero
/// pages (in huge pages from a few megabytes on), small ones come zeroed
/// from the heap.
TN_BASE_API ZeroedMemory AllocateZeroed(uint64_t aSize);

/// Faults in the pages of aSize bytes at aAddress for writing, without
/// changing what they hold: memory about to be written, so that its writer
/// does not fault page by page. Does nothing where the system cannot.
TN_BASE_API void PopulateForWriting(void *aAddress, uint64_t aSize);

/// The bytes the machine can hold: its physical memory and swap, within the
/// memory limit of the process's control group when it has one.
TN_BASE_API uint64_t MemoryCapacity();

/// Whether aCount blocks of aSize bytes each fit in MemoryCapacity().
TN_BASE_API bool MemoryFits(uint64_t aCount, uint64_t aSize);

/// TN_NOT_ENOUGH_MEMORY, saying what could not be had: aWhat ("Alloc: the
/// buffer"), aCount blocks of aSize bytes, and whether they are beyond the
/// machine or the system had none.
TN_BASE_API TnResult NotEnoughMemory(const std::string &aWhat, uint64_t aCount, uint64_t aSize);
} // namespace tn

#endif
