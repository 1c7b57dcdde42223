// upload.cpp - receiving one file from the terminal.
//
// Receiving is not built yet: a receiving session opens the port and the
// window like any other and then ends with 99 without talking to the
// terminal.
#include "upload/upload.h"

int upload(SerialChannel &)
{
    return 99;
}
