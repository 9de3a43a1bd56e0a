// The memory cap on weight files holds only while networkMemoryBytes counts
// what a network really allocates. Every allocation of this test program is
// counted while a network is built and compared with the estimate.

#include "netTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#ifndef __SANITIZE_ADDRESS__

namespace {

bool      counting       = false;
long long allocatedBytes = 0;

void* countedAllocation(std::size_t bytes) {
    if (counting)
        allocatedBytes += static_cast<long long>(bytes);
    if (void* p = std::malloc(bytes > 0 ? bytes : 1))
        return p;
    throw std::bad_alloc();
}

} // namespace

void* operator new(std::size_t bytes) {
    return countedAllocation(bytes);
}
void* operator new[](std::size_t bytes) {
    return countedAllocation(bytes);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

TEST(NetworkMemory, EstimateCoversEveryAllocation) {
    using nettest::Shape;
    for (const Shape& s : {Shape{20, 1, 16, 8}, Shape{20, 6, 32, 32}, Shape{8, 3, 48, 5}}) {
        const std::vector<char> image = depnn::makeRandomWeightImage(s.n, s.b, s.f, s.h, 1);
        ASSERT_FALSE(image.empty());
        allocatedBytes = 0;
        counting       = true;
        {
            depnn::QuoriboNetwork net(image.data(), nettest::lengthOf(image));
            counting = false;
            ASSERT_EQ(net.boardSize, s.n);
        }
        const long long estimate = depnn::networkMemoryBytes(s.n, s.b, s.f, s.h);
        // The estimate counts the arrays; the layer objects themselves add a
        // few hundred bytes.
        EXPECT_GE(allocatedBytes, estimate) << s.b << " " << s.f;
        EXPECT_LE(allocatedBytes, estimate + 2048) << s.b << " " << s.f;
    }
}

#endif
