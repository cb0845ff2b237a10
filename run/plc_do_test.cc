#include "build_identity.h"
#include "run/run.h"

// Which release and target a copied binary is; never printed. A newline on
// either side makes it a line of its own for `grep -a` (GNU's and busybox's,
// on systems without `strings`) and for `strings` alike.
__attribute__((used)) static const char build_identity[] = "\nplc_do_test " PLC_BUILD_IDENTITY "\n";

int main(int argc, char** argv) { return run_plc_do_test(argc, argv); }
