// The interface of a buffer filter: reads one buffer and writes another.
#ifndef ITN_FILTER_H
#define ITN_FILTER_H

#include <stdint.h>

#include "TnExport.h"
#include "TnResult.h"

class TnBuffer;

/// A filter that reads one buffer and writes another, with worker threads
/// whose number and priority can be set.
///
/// Thread priorities run from 0 (idle) through 3 (normal) to 6 (time
/// critical): the scheduler's nice level 19, 10, 5, 0, -5, -10, -20.
class TN_BUFFER_RECEIVE_API ITnFilter
{
public:
    /// Ends the filter and its threads.
    virtual ~ITnFilter();

    /// Reads ``aIn`` and writes the result into ``aOut``, which is
    /// reallocated as the result needs when it owns its memory.
    virtual TnResult Execute(const TnBuffer *aIn, TnBuffer *aOut) = 0;

    /// Sets the number of worker threads.
    virtual TnResult SetThreadCount(uint32_t aCount) = 0;

    /// The number of worker threads.
    virtual uint32_t GetThreadCount() const = 0;

    /// Writes the priority of the worker threads into ``aPriority``.
    virtual TnResult GetThreadsPriority(uint32_t &aPriority) const = 0;

    /// Sets the priority of the worker threads.
    virtual TnResult SetThreadsPriority(uint32_t aPriority) = 0;
};

#endif
