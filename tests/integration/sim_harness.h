// Kept for the window tests that include it: the simulator harness lives in tests/support.
#pragma once
#include "support/sim_process.h"
