/* An ARMv4I CE module as cmake/write-ce-module turns it into a PE image:
 * each output section on a 4 KB boundary from __ImageBase + 0x1000, at the
 * address it has in the image. Code and read-only data share .text, data
 * and the zeroed data share .data, and the import slots end it, where the
 * writer puts the rest of the import directory: every section costs the
 * module up to 511 bytes of file alignment. */
SECTIONS
{
    . = __ImageBase + 0x1000;
    .text : { *(.text .text.*) *(.rodata .rodata.*) }
    . = ALIGN(0x1000);
    .data : { *(.data .data.*) *(.bss .bss.* COMMON) *(.idata) }
    /* No unwinding: the code is built without exceptions. */
    /DISCARD/ : { *(.ARM.exidx*) *(.ARM.extab*) *(.comment) *(.note*) }
}
