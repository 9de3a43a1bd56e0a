#pragma once

// The processor's vector instruction sets, read once from CPUID. The kernels of
// a family may run only where its flags are set.

namespace depnn {

struct CpuFeatures {
    bool sse, sse2, sse3, ssse3, avx, avx2;
};

// Identified on the first call and kept for the life of the process. avx and
// avx2 are reported only when the operating system also saves the 256-bit
// registers across context switches; otherwise their instructions would fault.
// On processors other than x86 every flag is false.
const CpuFeatures& cpuFeatures();

// The float kernel family to use: 0 the reference pass, 1 SSE (needs SSE and
// SSE3), 2 AVX (needs AVX, and wins over SSE). The fixed-point families are
// never chosen here.
int chooseSimdType(const CpuFeatures& features);

} // namespace depnn
