// A DLL for the test of the stack alignment check: each function keeps a four-float vector in
// a stack slot and reads it back with a 16-byte-aligned SSE access. Built assuming the 16-byte
// alignment GCC callers give, so only the function marked force_align_arg_pointer realigns.
typedef float Float4 __attribute__((vector_size(16)));

extern "C" {

// The product of *p and its square, the square reread from the stack as mulps's operand.
__attribute__((target("sse2"))) __declspec(dllexport) void squareThroughArithmetic(Float4 *p) {
    Float4 t = *p * *p;
    __asm__("" : "+m"(t));
    *p = t * *p;
}

// *p stored to the stack with movaps and loaded back.
__attribute__((target("sse2"))) __declspec(dllexport) void copyThroughAlignedMove(Float4 *p) {
    Float4 t;
    __asm__("movaps %1, %0" : "=m"(t) : "x"(*p));
    *p = t;
}

// As squareThroughArithmetic, after realigning the stack.
__attribute__((force_align_arg_pointer)) void squareOnRealignedStack(Float4 *p);
__attribute__((target("sse2"))) __declspec(dllexport) void squareOnRealignedStack(Float4 *p) {
    Float4 t = *p * *p;
    __asm__("" : "+m"(t));
    *p = t * *p;
}
}
