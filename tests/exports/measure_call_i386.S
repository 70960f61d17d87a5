/*
 * void vostrelle_measure_call(const void *entry, const void *arguments,
 *                             unsigned argument_bytes, unsigned alignment,
 *                             struct measured_call *record)
 *
 * Pushes the argument bytes as a caller would, with the stack pointer at the
 * call equal to `alignment` modulo 16, calls `entry`, and records how many
 * argument bytes the callee removed, what it left in EAX and, when
 * record->returns_double is set, the value it left on the x87 stack.
 *
 * struct measured_call { unsigned removed; unsigned eax; double st0;
 *                        unsigned returns_double; };
 */
    .text
    .globl vostrelle_measure_call
    .type vostrelle_measure_call, @function
vostrelle_measure_call:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl 24(%ebp), %ebx         /* record */
    movl 12(%ebp), %esi         /* arguments */
    movl 16(%ebp), %ecx         /* argument bytes */
    andl $-16, %esp
    movl 20(%ebp), %edx         /* pad = -(alignment + bytes) mod 16 */
    addl %ecx, %edx
    negl %edx
    andl $15, %edx
    subl %edx, %esp
    subl %ecx, %esp
    movl %esp, %edi
    cld
    rep movsb
    movl %esp, %edi             /* the stack pointer at the call */
    movl 8(%ebp), %eax
    call *%eax
    movl %eax, 4(%ebx)
    movl %esp, %ecx
    subl %edi, %ecx
    movl %ecx, 0(%ebx)
    cmpl $0, 16(%ebx)
    je 1f
    fstpl 8(%ebx)
1:
    leal -12(%ebp), %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
    .size vostrelle_measure_call, .-vostrelle_measure_call
    .section .note.GNU-stack,"",@progbits
