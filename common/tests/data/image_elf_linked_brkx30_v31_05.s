# Source of the executable inside image_elf_linked_brkx30_v31_05.bin: a
# big-endian 32-bit PowerPC program linked by GNU ld, so that the reader is
# also held against a section layout it did not write itself.
#
#   powerpc-linux-gnu-as -a32 -mbig -o fw.o image_elf_linked_brkx30_v31_05.s
#   powerpc-linux-gnu-ld -o fw.elf fw.o
#   tarnimage --model x --version x --executable fw.elf \
#             --header "BRKX30 firmware package" image_elf_linked_brkx30_v31_05.bin
    .section .text
    .globl _start
_start:
    li 3, 0
    b _start
    .section .data
counter:
    .long 0x12345678
    .section .firmif, "a"
    .space 16
    .asciz "BRKX30"
    .space 32 - 7
    .asciz "R3 V31.05"
    .space 32 - 10
    .asciz "2019/04/01"
    .space 256 - 80 - 11
