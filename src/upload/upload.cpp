// upload.cpp - receiving one file from the terminal.
//
// Receiving is not built yet: a receiving session opens the port and the
// window like any other and then ends without talking to the terminal.
#include "upload/upload.h"

#include "orv5w32.h"

int upload(const SessionSettings &, SessionRun &, SerialChannel &)
{
    return ORV5_E_RECEIVE_UNAVAILABLE;
}
