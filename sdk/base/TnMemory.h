// Memory that buffers, images and containers ask for: what the machine can
// hold, and blocks that read as zero without being committed before they are
// written. Each block is registered (TnMemoryBlocks.h), so that what shows it
// can keep it after its owner lets it go.
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
class MemoryBlock;

/// Drops the owner's reference on a block of AllocateZeroed: the memory is
/// given back then, or when the last view that pinned it goes.
struct TN_BASE_API ZeroedRelease
{
    MemoryBlock *mBlock = nullptr;
    void operator()(uint8_t *aMemory) const;
};

using ZeroedMemory = std::unique_ptr<uint8_t[], ZeroedRelease>;

/// aSize bytes that read as zero; null for 0 bytes, for more than the
/// machine can hold and when the system has none. Nothing is committed
/// before it is written: large blocks are mapped from the kernel's zero
/// pages (in huge pages from a few megabytes on), small ones come zeroed
/// from the heap. The block is registered with one reference, the
/// ZeroedMemory's.
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
