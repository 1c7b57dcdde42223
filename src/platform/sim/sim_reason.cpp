// sim_reason.cpp - the simulated platform keeps reasons as POSIX does.
#include "../posix/os_reason_posix.cpp"
