// The row kernels for x86-64 processors with AVX2 (compiled with -mavx2).
#define TN_KERNELS_NAMESPACE avx2
#include "TnConvertKernels.inc"
