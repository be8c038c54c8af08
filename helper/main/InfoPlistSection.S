/* Embeds the information property list in the ELF section .info_plist, readable with
   `readelf -p .info_plist dev.kestrelbay.helper`. HelperConstants reads it through the
   two symbols below (weak references there, so programs without the section read none). */
    .section .info_plist,"a",@progbits
    .globl kb_info_plist_start
kb_info_plist_start:
    .incbin "Info.plist"
    .globl kb_info_plist_end
kb_info_plist_end:
    .byte 0
    .section .note.GNU-stack,"",@progbits
