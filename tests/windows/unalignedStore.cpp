// One 256-bit register's worth of floats.
using Lanes = float[8];

// Stores a 256-bit register with the aligned-move instruction to an address
// 16 bytes off a 32-byte boundary, where a spill slot on the 16-byte-aligned
// Windows stack can lie. The processor faults on it unless the assembler
// option of the Windows build has encoded the move as its unaligned twin, so
// this program exits 0 exactly when that option is in force.
int main() {
    alignas(32) float buffer[16] = {};
    Lanes*            slot       = reinterpret_cast<Lanes*>(buffer + 4);
    __asm__ volatile("vxorps %%ymm0, %%ymm0, %%ymm0\n\t"
                     "vmovaps %%ymm0, %0\n\t"
                     "vzeroupper"
                     : "=m"(*slot)
                     :
                     : "xmm0");
    return static_cast<int>(buffer[4]);
}
