// The program's own start-up, in place of the toolchain's start files (built
// for a newer CPU, and calling __libc_start_main@GLIBC_2.34): `_start` hands
// main to the ABI's first __libc_start_main, which every C library keeps,
// with a routine that runs the initialisers as the old start files did. Plain
// code of the oldest architecture served, over before main
// (docs/compatibility.md).
using main_function = int (*)(int, char**, char**);
using init_function = void (*)(int, char**, char**);
using exit_function = void (*)();

extern "C" {

// What the toolchain's start files and libc_nonshared.a (neither linked in)
// would give a program for its exit-time work: the handle under which global
// objects register their destructors, and atexit, which the shared C library
// does not export, as __cxa_atexit under that handle.
__attribute__((visibility("hidden"))) void* __dso_handle = &__dso_handle;

int __cxa_atexit(void (*function)(void*), void* argument, void* dso_handle);

__attribute__((visibility("hidden"))) int atexit(exit_function function) {
    return __cxa_atexit(reinterpret_cast<void (*)(void*)>(function), nullptr, __dso_handle);
}

int libc_start_main_first(main_function main, int argc, char** argv, main_function init,
                          exit_function fini, exit_function rtld_fini, void* stack_end);
#if defined(__aarch64__)
__asm__(".symver libc_start_main_first,__libc_start_main@GLIBC_2.17");
#else
__asm__(".symver libc_start_main_first,__libc_start_main@GLIBC_2.4");
#endif

// From the linker.
extern init_function __init_array_start[] __attribute__((visibility("hidden")));
extern init_function __init_array_end[] __attribute__((visibility("hidden")));

// What the C library's own start files ran for a dynamically linked program,
// less _init, which only those start files provide: .init_array in order.
// The dynamic loader has already run .preinit_array, and it runs .fini_array
// at exit, which is why no fini routine is handed over.
__attribute__((used)) static int run_initialisers(int argc, char** argv, char** envp) {
    for (init_function* f = __init_array_start; f != __init_array_end; ++f) (*f)(argc, argv, envp);
    return 0;
}

}  // extern "C"

#if defined(__arm__)
// The process starts here with argc at the stack pointer, argv and the
// environment above it, and the loader's fini routine in r0. The call is
// __libc_start_main(main, argc, argv, init, fini, rtld_fini, stack_end): the
// first four in r0-r3, the last three on the stack, which stays 8-byte
// aligned. Addresses are taken relative to the PC, so that the start-up
// works in a position-independent executable.
__asm__(R"(
    .pushsection .text
    .arm
    .align 2
    .globl _start
    .type _start, %function
_start:
    mov fp, #0
    mov lr, #0
    pop {r1}
    mov r2, sp
    push {r2}
    push {r0}
    mov ip, #0
    push {ip}
    ldr r0, .Lmain_offset
.Lmain_base:
    add r0, pc, r0
    ldr r3, .Linit_offset
.Linit_base:
    add r3, pc, r3
    bl libc_start_main_first(PLT)
    bl abort(PLT)
    .align 2
.Lmain_offset:
    .word main - (.Lmain_base + 8)
.Linit_offset:
    .word run_initialisers - (.Linit_base + 8)
    .size _start, . - _start
    .popsection
)");
#elif defined(__aarch64__)
// The process starts here with argc at the stack pointer, argv and the
// environment above it, and the loader's fini routine in x0. The call is
// __libc_start_main(main, argc, argv, init, fini, rtld_fini, stack_end), all
// seven in x0-x6; the stack pointer is 16-byte aligned as it is. Addresses
// are taken relative to the PC (adrp and :lo12:), so that the start-up works
// in a position-independent executable.
__asm__(R"(
    .pushsection .text
    .align 2
    .globl _start
    .type _start, %function
_start:
    mov x29, #0
    mov x30, #0
    mov x5, x0
    ldr x1, [sp]
    add x2, sp, #8
    mov x6, sp
    adrp x0, main
    add x0, x0, :lo12:main
    adrp x3, run_initialisers
    add x3, x3, :lo12:run_initialisers
    mov x4, #0
    bl libc_start_main_first
    bl abort
    .size _start, . - _start
    .popsection
)");
#endif  // Another processor gets no start-up: the build refuses it (cmake/arm_target.cmake).
