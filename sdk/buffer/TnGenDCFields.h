// Reading and writing the fields of GenDC headers in a container's bytes, at
// the offsets of the records (TnGenDCHeaders.h), whatever the alignment.
#ifndef TN_GENDC_FIELDS_H
#define TN_GENDC_FIELDS_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "TnGenDCHeaders.h"

// The records' layouts are asserted where they are declared; offsetof of a
// field of a derived record is the compiler's plain layout.
#pragma GCC diagnostic ignored "-Winvalid-offsetof"

namespace tn
{
namespace buffer
{
template <typename Value>
Value LoadField(const uint8_t *aAt)
{
    Value lValue;
    memcpy(&lValue, aAt, sizeof(lValue));
    return lValue;
}

template <typename Value>
void StoreField(uint8_t *aAt, Value aValue)
{
    memcpy(aAt, &aValue, sizeof(aValue));
}

constexpr uint64_t kContainerFixed = sizeof(GenDCContainerHeaderBase);
constexpr uint64_t kComponentFixed = sizeof(GenDCComponentHeaderBase);
constexpr uint64_t kPartFixed = sizeof(GenDCPartHeaderBase);
constexpr uint64_t kFlowTableFixed = sizeof(GenDCFlowTableHeader);
} // namespace buffer
} // namespace tn

#endif
