/* tarn_windows_call: calls a function of a Windows image the way a Windows host does. The
   stack pointer is 4 mod 16 at the call (the 4-byte alignment that is all a Windows caller
   promises, and never the 16 that i386 Linux code keeps), %fs selects the image's thread block
   and the x87 control word is Windows' default (53-bit precision). All three are restored on
   return. Works for cdecl and stdcall callees alike: the stack is restored from %ebp.
   uint32_t tarn_windows_call(const void *function, const uint32_t *args, uint32_t count,
                              uint32_t fsSelector);  returns the callee's %eax. */
    .text
    .globl tarn_windows_call
    .hidden tarn_windows_call
    .type tarn_windows_call, @function
tarn_windows_call:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    subl $12, %esp                 /* -16: caller's %fs, -20: caller's control word, -24: ours */
    movw %fs, %ax
    movw %ax, -16(%ebp)
    fnstcw -20(%ebp)
    movw $0x027F, -24(%ebp)        /* Windows: all exceptions masked, 53-bit, round to nearest */
    movl 16(%ebp), %ecx            /* count */
    movl 12(%ebp), %esi            /* args */
    leal 0(,%ecx,4), %edx
    movl %esp, %eax
    subl %edx, %eax
    subl $16, %eax
    andl $-16, %eax
    addl $4, %eax                  /* 4 mod 16 at the call */
    movl %eax, %esp
    movl %esp, %edi
    cld
    rep movsl
    movl 20(%ebp), %eax
    movw %ax, %fs
    fldcw -24(%ebp)
    movl 8(%ebp), %eax
    call *%eax
    fldcw -20(%ebp)
    movw -16(%ebp), %cx
    movw %cx, %fs
    leal -12(%ebp), %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
    .size tarn_windows_call, .-tarn_windows_call

    .section .note.GNU-stack,"",@progbits
