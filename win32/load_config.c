/* The image's load configuration, which Zig's MinGW-w64 runtime lacks: the
   loader reads Control Flow Guard's tables and the stack cookie from it.
   Every Windows program and DLL of ours links this file. */
#include <windows.h>

/* Windows' default cookie: the loader replaces exactly this value with a
   random one before any of our code runs. */
#ifdef _WIN64
#define DEFAULT_SECURITY_COOKIE 0x00002B992DDFA232ULL
#else
#define DEFAULT_SECURITY_COOKIE 0xBB40E64EUL
#endif

/* The stack protector's canary (clang's GNU targets read this name). */
UINT_PTR __stack_chk_guard = DEFAULT_SECURITY_COOKIE;

/* A smashed stack ends the process at once; nothing of it may run on. */
__attribute__((noreturn)) void __stack_chk_fail(void)
{
    __fastfail(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE);
}

/* Until the loader points them at its own check, indirect calls go straight
   through. The loader writes them in a read-only section of their own. */
static void guard_check_icall_nop(void) {}
__attribute__((section(".00cfg"))) void (*const volatile __guard_check_icall_fptr)(void) = guard_check_icall_nop;
#ifdef __x86_64__
/* x64 calls through the dispatch pointer, with the target in RAX. */
void __guard_dispatch_icall_dummy(void);
__asm__(".text\n"
        ".globl __guard_dispatch_icall_dummy\n"
        "__guard_dispatch_icall_dummy:\n"
        "    jmp *%rax\n");
__attribute__((section(".00cfg"))) void (*const volatile __guard_dispatch_icall_fptr)(void) = __guard_dispatch_icall_dummy;
#define GUARD_DISPATCH "__guard_dispatch_icall_fptr"
#else
#define GUARD_DISPATCH "0"
#endif

/* The structure, written out so that the linker's own symbols fill it:
   the function table and its count, and the guard flags, a 32-bit field the
   compiler cannot relocate from C on a 64-bit target. */
#define SYMBOL_(prefix, name) #prefix name
#define SYMBOL(prefix, name) SYMBOL_(prefix, name)
#define S(name) SYMBOL(__USER_LABEL_PREFIX__, name)
#ifdef _WIN64
#define PTR ".quad "
#else
#define PTR ".long "
#endif
__asm__(".section .rdata,\"dr\"\n"
        ".p2align 3\n"
        ".globl " S("_load_config_used") "\n"
        S("_load_config_used") ":\n"
        "    .long 1f - " S("_load_config_used") "\n" /* Size */
        "    .long 0\n"                                /* TimeDateStamp */
        "    .short 0, 0\n"                            /* MajorVersion, MinorVersion */
        "    .long 0, 0, 0\n"                          /* GlobalFlagsClear, GlobalFlagsSet, CriticalSectionDefaultTimeout */
        "    " PTR "0, 0, 0, 0, 0, 0\n"               /* DeCommitFreeBlockThreshold .. ProcessAffinityMask */
        "    .long 0\n"                                /* ProcessHeapFlags */
        "    .short 0, 0\n"                            /* CSDVersion, DependentLoadFlags */
        "    " PTR "0\n"                              /* EditList */
        "    " PTR S("__stack_chk_guard") "\n"        /* SecurityCookie */
        "    " PTR "0, 0\n"                           /* SEHandlerTable, SEHandlerCount */
        "    " PTR S("__guard_check_icall_fptr") "\n" /* GuardCFCheckFunctionPointer */
        "    " PTR GUARD_DISPATCH "\n"                /* GuardCFDispatchFunctionPointer */
        "    " PTR S("__guard_fids_table") "\n"       /* GuardCFFunctionTable */
        "    " PTR S("__guard_fids_count") "\n"       /* GuardCFFunctionCount */
        "    .long " S("__guard_flags") "\n"          /* GuardFlags */
        "    .short 0, 0\n"                            /* CodeIntegrity.Flags, .Catalog */
        "    .long 0, 0\n"                             /* CodeIntegrity.CatalogOffset, .Reserved */
        "    " PTR S("__guard_iat_table") "\n"        /* GuardAddressTakenIatEntryTable */
        "    " PTR S("__guard_iat_count") "\n"        /* GuardAddressTakenIatEntryCount */
        "    " PTR S("__guard_longjmp_table") "\n"    /* GuardLongJumpTargetTable */
        "    " PTR S("__guard_longjmp_count") "\n"    /* GuardLongJumpTargetCount */
        "1:\n");
