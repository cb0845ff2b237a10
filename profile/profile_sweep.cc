// plc_do_profile's sweep, apart from plc_do_test's so that plc_do_test does
// not carry it.
#include "profile/profile_sweep.h"

#include "sweep/controller_io.h"

void sweep_outputs_profiled(const run_params& params, profile_log& log) {
    write_reading extra{timespec{}, 0, log.writes};
    sweep_outputs_through<controller_io>(params, log.timing, &extra);
}
