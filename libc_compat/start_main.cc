// Start-up for C libraries older than the one the binary is linked against.
//
// Debian 12's start files call __libc_start_main@GLIBC_2.34 and hand it no
// routine for the program's initialisers, since a C library from 2.34 on
// runs them itself. An older C library knows only __libc_start_main@GLIBC_2.4
// and runs the initialisers only through that routine. The program is linked
// with --wrap=__libc_start_main, so the start files call the function below,
// which calls the GLIBC_2.4 entry (present in every ARM EABI C library, and
// kept by newer ones) with a routine that runs the initialisers as the older
// libraries' own start files did. Everything here is over before main.
using main_function = int (*)(int, char**, char**);
using init_function = void (*)(int, char**, char**);
using exit_function = void (*)();

extern "C" {

int libc_start_main_2_4(main_function main, int argc, char** argv, main_function init,
                        exit_function fini, exit_function rtld_fini, void* stack_end);
__asm__(".symver libc_start_main_2_4,__libc_start_main@GLIBC_2.4");

// From the start files (crti.o) and the linker.
void _init();
extern init_function __init_array_start[] __attribute__((visibility("hidden")));
extern init_function __init_array_end[] __attribute__((visibility("hidden")));

// What the C library's own start files ran for a dynamically linked program:
// _init, then .init_array in order. The dynamic loader has already run
// .preinit_array; .fini_array and _fini are run by the loader at exit, which
// is why no fini routine is needed.
static int run_initialisers(int argc, char** argv, char** envp) {
    _init();
    for (init_function* f = __init_array_start; f != __init_array_end; ++f) (*f)(argc, argv, envp);
    return 0;
}

int __wrap___libc_start_main(main_function main, int argc, char** argv, main_function init,
                             exit_function fini, exit_function rtld_fini, void* stack_end) {
    // Start files of an older C library hand their own routine: kept.
    return libc_start_main_2_4(main, argc, argv, init != nullptr ? init : run_initialisers, fini,
                               rtld_fini, stack_end);
}

}  // extern "C"
