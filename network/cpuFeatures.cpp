#include "network/cpuFeatures.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace depnn {

namespace {

#if defined(__x86_64__) || defined(__i386__)

constexpr unsigned bit(int n) {
    return 1u << n;
}

// XCR0 read through XGETBV. Spelled as raw bytes so this file needs no -mxsave;
// it is only executed once CPUID has reported OSXSAVE.
unsigned readXcr0() {
    unsigned eax = 0, edx = 0;
    __asm__ volatile(".byte 0x0f, 0x01, 0xd0" : "=a"(eax), "=d"(edx) : "c"(0));
    return eax;
}

CpuFeatures identify() {
    CpuFeatures  f{};
    unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx))
        return f;
    f.sse   = (edx & bit(25)) != 0;
    f.sse2  = (edx & bit(26)) != 0;
    f.sse3  = (ecx & bit(0)) != 0;
    f.ssse3 = (ecx & bit(9)) != 0;

    // The 256-bit registers are usable only if the operating system has
    // enabled XSAVE (OSXSAVE, ECX bit 27) and saves both the SSE and the
    // upper YMM state (XCR0 bits 1 and 2).
    const bool osxsave  = (ecx & bit(27)) != 0;
    const bool ymmSaved = osxsave && (readXcr0() & (bit(1) | bit(2))) == (bit(1) | bit(2));
    f.avx               = ymmSaved && (ecx & bit(28)) != 0;

    if (f.avx && __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx))
        f.avx2 = (ebx & bit(5)) != 0;
    return f;
}

#else

CpuFeatures identify() {
    return CpuFeatures{};
}

#endif

} // namespace

const CpuFeatures& cpuFeatures() {
    static const CpuFeatures features = identify();
    return features;
}

int chooseSimdType(const CpuFeatures& features) {
    int simdType = 0;
    if (features.sse && features.sse3)
        simdType = 1;
    if (features.avx)
        simdType = 2;
    return simdType;
}

} // namespace depnn
