// The row kernels for the processor baseline.
#define TN_KERNELS_NAMESPACE baseline
#include "TnConvertKernels.inc"

#if defined(__x86_64__)
#include <emmintrin.h>
#endif

namespace tn
{
namespace convert
{
void StreamingDone()
{
#if defined(__x86_64__)
    _mm_sfence();
#endif
}

const Kernels &GetKernels()
{
#if defined(__x86_64__)
    static const Kernels &sKernels = __builtin_cpu_supports("avx2") ? avx2::GetKernels() : baseline::GetKernels();
    return sKernels;
#else
    return baseline::GetKernels();
#endif
}
} // namespace convert
} // namespace tn
