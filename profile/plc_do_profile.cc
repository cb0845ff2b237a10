#include "build_identity.h"
#include "profile/profile.h"

// Which release and target a copied binary is, as in plc_do_test (run/plc_do_test.cc);
// this program also prints it with its profile.
__attribute__((used)) static const char build_identity[] = "\nplc_do_profile " PLC_BUILD_IDENTITY "\n";

int main(int argc, char** argv) { return run_plc_do_profile(argc, argv, build_identity + 1); }
