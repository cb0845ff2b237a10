#include "run/run.h"

int main(int argc, char** argv) { return run_plc_do_test(argc, argv); }
