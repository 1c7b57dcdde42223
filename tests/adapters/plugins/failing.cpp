// failing.cpp - a plug-in whose adapter never gets ready.
#include "orv5_adapter.h"

#if defined(_WIN32)
#  define TEST_EXPORT
#else
#  define TEST_EXPORT __attribute__((visibility("default")))
#endif

extern "C" TEST_EXPORT int ORV5_ADAPTER_CALL InitIrDevice(orv5_port_handle)
{
    return ORV5_ADAPTER_PORT_FAILED;
}

extern "C" TEST_EXPORT char *ORV5_ADAPTER_CALL GetDllVersion(char *buf)
{
    static const char name[] = "Failing test adapter";
    for (int i = 0; buf != nullptr && i < static_cast<int>(sizeof name); ++i)
        buf[i] = name[i];
    return buf;
}
