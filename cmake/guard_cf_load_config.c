// The load configuration a Control-Flow-Guard image needs, which Debian's
// MinGW-w64 runtime lacks: the IMAGE_LOAD_CONFIG_DIRECTORY64 named
// _load_config_used (the linker points the PE's load-config directory at
// it) and the two function pointers instrumented code calls through. The
// loader replaces the pointers with its checks when the image is marked
// GUARD_CF; until then (and on Windows without CFG) they do nothing but
// the call. lld fills the __guard_* symbols from the object files' tables.
// Written in assembly: the flags and counts are absolute symbols that C
// cannot put into a constant initializer.
__asm__(
    "  .section .rdata,\"dr\"\n"
    "  .globl _load_config_used\n"
    "  .p2align 3\n"
    "_load_config_used:\n"
    "  .long 0x118\n"                    // Size: up to the EH tables
    "  .long 0\n"                        // TimeDateStamp
    "  .short 0, 0\n"                    // MajorVersion, MinorVersion
    "  .long 0, 0, 0\n"                  // GlobalFlagsClear/Set, CS timeout
    "  .quad 0, 0, 0, 0, 0, 0\n"         // heap thresholds ... affinity
    "  .long 0\n"                        // ProcessHeapFlags
    "  .short 0, 0\n"                    // CSDVersion, DependentLoadFlags
    "  .quad 0\n"                        // EditList
    "  .quad 0\n"                        // SecurityCookie: none (no /GS)
    "  .quad 0, 0\n"                     // SEHandlerTable, SEHandlerCount
    "  .quad __guard_check_icall_fptr\n"     // 0x70
    "  .quad __guard_dispatch_icall_fptr\n"  // 0x78
    "  .quad __guard_fids_table\n"           // 0x80
    "  .quad __guard_fids_count\n"           // 0x88
    "  .long __guard_flags\n"                // 0x90
    "  .short 0, 0\n"                        // CodeIntegrity
    "  .long 0, 0\n"
    "  .quad __guard_iat_table\n"            // 0xA0
    "  .quad __guard_iat_count\n"
    "  .quad __guard_longjmp_table\n"        // 0xB0
    "  .quad __guard_longjmp_count\n"
    "  .quad 0, 0, 0, 0\n"  // dynamic relocations, CHPE, RF failure routines
    "  .long 0\n"           // DynamicValueRelocTableOffset
    "  .short 0, 0\n"       // DynamicValueRelocTableSection, Reserved2
    "  .quad 0\n"           // GuardRFVerifyStackPointerFunctionPointer
    "  .long 0, 0\n"        // HotPatchTableOffset, Reserved3
    "  .quad 0, 0\n"        // EnclaveConfiguration, VolatileMetadata
    "  .quad __guard_eh_cont_table\n"        // 0x108
    "  .quad __guard_eh_cont_count\n"        // 0x110
    "\n"
    "  .data\n"
    "  .globl __guard_check_icall_fptr\n"
    "  .globl __guard_dispatch_icall_fptr\n"
    "  .p2align 3\n"
    "__guard_check_icall_fptr:\n"
    "  .quad orvalin_guard_check_nop\n"
    "__guard_dispatch_icall_fptr:\n"
    "  .quad orvalin_guard_dispatch_nop\n"
    "\n"
    "  .text\n"
    "orvalin_guard_check_nop:\n"  // the target to check is in rcx
    "  ret\n"
    "orvalin_guard_dispatch_nop:\n"  // the target to call is in rax
    "  jmp *%rax\n");
