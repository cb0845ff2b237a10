// Linked as plc_do_test is (its own start-up on a controller build), this
// program proves that start-up and exit run every kind of initialiser and
// finaliser a C++ program can have exactly once and in order. Each one
// writes its letter as it runs:
//   p  .preinit_array entry (run by the loader)
//   c  constructor function, priority 101
//   g  global object's constructor, priority 102
//   i  plain .init_array entry (after every prioritised one)
//   m  main, which registers the atexit handler and returns 3
//   a  atexit handler (registered last, so run first)
//   d  global object's destructor
//   f  .fini_array entry (run by the loader at exit), which ends the process
//      with 0 when the letters, its own included, are exactly "pcgimadf",
//      else with 1.
// A step that never runs leaves main's 3, or a letter short.
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

namespace {

char seen[32];
unsigned count;

void step(char letter) {
    if (count < sizeof seen - 1) seen[count] = letter;
    ++count;
    (void)!write(1, &letter, 1);
}

void preinit_step(int, char**, char**) { step('p'); }
void init_step(int, char**, char**) { step('i'); }
void atexit_step() { step('a'); }

void fini_step() {
    step('f');
    const bool in_order = count == 8 && memcmp(seen, "pcgimadf", 8) == 0;
    (void)!write(1, in_order ? "\n" : " (expected pcgimadf)\n", in_order ? 1 : 21);
    _exit(in_order ? 0 : 1);
}

__attribute__((constructor(101))) void constructor_step() { step('c'); }

struct Global {
    Global() { step('g'); }
    ~Global() { step('d'); }
};
__attribute__((init_priority(102))) Global global;

__attribute__((used, section(".preinit_array"))) void (*const preinit_entry)(int, char**, char**) =
    preinit_step;
__attribute__((used, section(".init_array"))) void (*const init_entry)(int, char**, char**) = init_step;
__attribute__((used, section(".fini_array"))) void (*const fini_entry)() = fini_step;

}  // namespace

int main() {
    step('m');
    atexit(atexit_step);
    return 3;
}
