// Memory blocks that outlive their SDK owner while something still shows
// them: every block the SDK hands out (AllocateZeroed) and every memory a
// program attaches is reference-counted and found by any address inside it.
// The SDK object that uses a block holds one reference; a numpy view of it
// holds another, so freeing, re-allocating or destroying the object leaves
// the view's memory in place until the view goes.
//
// The registry of blocks is one ordered map of address ranges under one lock,
// touched when a block is made or given back and when a reference is taken by
// address, never while data moves.
#ifndef TN_MEMORY_BLOCKS_H
#define TN_MEMORY_BLOCKS_H

#include <stddef.h>
#include <stdint.h>

#include <memory>

#include "TnExport.h"

namespace tn
{
/// A registered block; opaque outside TnMemoryBlocks.cpp.
class MemoryBlock;

/// Gives a block's memory back: aContext as registered, and the block's
/// address and length.
using BlockGiveBack = void (*)(void *aContext, void *aAddress, size_t aLength);

/// Registers aLength bytes at aAddress as a block with one reference, the
/// caller's: memory of AllocateZeroed, or memory that belongs to someone else
/// (an object a program attaches). When the last reference goes,
/// aGiveBack(aContext, aAddress, aLength) runs on the thread that dropped it.
/// Null, with aGiveBack not called, for a null address or when the record
/// cannot be made.
TN_BASE_API MemoryBlock *RegisterBlock(void *aAddress, size_t aLength, BlockGiveBack aGiveBack, void *aContext);

/// Takes a reference on the innermost block that holds all aLength bytes at
/// aAddress (at least one byte is asked for); null when no block does. An
/// attached block may lie within another (memory a view shows, attached
/// elsewhere): the one registered later is found first.
TN_BASE_API MemoryBlock *PinBlock(const void *aAddress, size_t aLength);

/// Takes another reference on a block the caller holds.
TN_BASE_API void RetainBlock(MemoryBlock *aBlock);

/// Drops a reference; the last one gives the memory back. Null does nothing.
TN_BASE_API void ReleaseBlock(MemoryBlock *aBlock);

/// The bytes of the block from aAddress (which lies in it) to its end.
TN_BASE_API size_t BlockBytesFrom(const MemoryBlock *aBlock, const void *aAddress);

/// Drops a held reference.
struct TN_BASE_API BlockRelease
{
    void operator()(MemoryBlock *aBlock) const { ReleaseBlock(aBlock); }
};

/// One reference on a block, dropped with the holder.
using BlockHold = std::unique_ptr<MemoryBlock, BlockRelease>;

/// A reference on the block that holds the aLength bytes at aAddress; empty
/// when none does (memory of a C++ program that it keeps itself).
inline BlockHold HoldBlockAt(const void *aAddress, size_t aLength)
{
    return BlockHold(PinBlock(aAddress, aLength));
}

/// While one lives on a thread, the last references that thread drops are
/// kept until it ends, so that what a call gives up (the memory Detach hands
/// back) can still be pinned by the caller before it goes. Scopes nest.
class TN_BASE_API DeferredBlockReleases
{
public:
    DeferredBlockReleases();
    ~DeferredBlockReleases();

    DeferredBlockReleases(const DeferredBlockReleases &) = delete;
    DeferredBlockReleases &operator=(const DeferredBlockReleases &) = delete;
};
} // namespace tn

#endif
