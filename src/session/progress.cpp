// progress.cpp - what the progress display shows (placeholder).
#include "session/progress.h"
void progress_update(uint32_t, int32_t) {}
void progress_set_name(const char *) {}
