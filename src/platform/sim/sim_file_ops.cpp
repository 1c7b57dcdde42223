// sim_file_ops.cpp - the POSIX file operations as the simulated platform
// uses them: the same code, built without the waits for the disk (fsync),
// since the simulated sessions write scratch files by the thousand.
#define ORV5_FILES_NOT_DURABLE 1
#include "platform/posix/file_ops_posix.cpp"
