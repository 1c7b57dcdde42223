// noinit.cpp - a library that looks like a plug-in but has no InitIrDevice.
#include "orv5_adapter.h"

#if defined(_WIN32)
#  define TEST_EXPORT
#else
#  define TEST_EXPORT __attribute__((visibility("default")))
#endif

extern "C" TEST_EXPORT char *ORV5_ADAPTER_CALL GetDllVersion(char *buf)
{
    if (buf != nullptr)
        buf[0] = '\0';
    return buf;
}
