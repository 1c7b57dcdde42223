// steps.h - the sender's steps, one per state, and their shared helpers.
#pragma once

#include "download/sender.h"

// Every step takes the result of the previous one and returns its own:
// 0 = go on, a result code = an error.
using SendStep = int (*)(Sender &snd, int result);

// Waiting for single bytes of the terminal's control messages.
// start_control_wait: before the first byte of the connection (DS11) or
// closing (DS311) phase, and again whenever DS11 or DS311 starts over.
void start_control_wait(Sender &snd);
int ds11(Sender &snd, int result);
int ds12(Sender &snd, int result);
int ds13(Sender &snd, int result);
int ds14(Sender &snd, int result);
int ds311(Sender &snd, int result);
int ds312(Sender &snd, int result);
int ds313(Sender &snd, int result);
int ds314(Sender &snd, int result);

// Sending a frame and waiting for its answer.
int ds211(Sender &snd, int result);
int ds261(Sender &snd, int result);

// Control messages with our (or the adopted) station.
void send_enq(Sender &snd);
int send_eot(Sender &snd, int state);

// Arms the 500 ms wait for an answer to the control message just sent.
void arm_answer_wait(Sender &snd);

// An abort seen in a wait: tell the terminal and leave the state machine.
[[nodiscard]] Orv5Result abort_now(Sender &snd);

// A time-out in a wait: ask again, or give up with 52.
[[nodiscard]] Orv5Result ds_timeout(Sender &snd);
