/* A resource-only DLL, as CE's MUI files are: the resources alone, with no
   code, data, imports, exports or relocations. */
SECTIONS
{
  . = __image_base__ + __section_alignment__;
  .rsrc BLOCK(__section_alignment__) : { *(.rsrc) *(SORT(.rsrc$*)) }
  /DISCARD/ : { *(*) }
}
