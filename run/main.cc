#include "build_identity.h"
#include "run/run.h"

// Which release and target a copied binary is, for `strings`; never printed.
// The leading NUL parts it from whatever bytes precede it, so that `strings`
// shows it on a line of its own.
__attribute__((used)) static const char build_identity[] = "\0" PLC_DO_TEST_IDENTITY;

int main(int argc, char** argv) { return run_plc_do_test(argc, argv); }
