// steps.h - the sender's steps, one per state, and their shared helpers.
#pragma once

#include "download/sender.h"

// Every step takes the result of the previous one and returns its own:
// ORV5_OK = go on, another code = an error.
using SendStep = Orv5Result (*)(Sender &snd, Orv5Result result);

// Waiting for single bytes of the terminal's control messages.
// start_control_wait: before the first byte of the connection (DS11) or
// closing (DS311) phase, and again whenever DS11 or DS311 starts over.
void start_control_wait(Sender &snd);
[[nodiscard]] Orv5Result ds11(Sender &snd, Orv5Result result);
[[nodiscard]] Orv5Result ds12(Sender &snd, Orv5Result result);
[[nodiscard]] Orv5Result ds13(Sender &snd, Orv5Result result);
[[nodiscard]] Orv5Result ds14(Sender &snd, Orv5Result result);
[[nodiscard]] Orv5Result ds311(Sender &snd, Orv5Result result);
[[nodiscard]] Orv5Result ds312(Sender &snd, Orv5Result result);
[[nodiscard]] Orv5Result ds313(Sender &snd, Orv5Result result);
[[nodiscard]] Orv5Result ds314(Sender &snd, Orv5Result result);

// Sending a frame and waiting for its answer.
[[nodiscard]] Orv5Result ds211(Sender &snd, Orv5Result result);
[[nodiscard]] Orv5Result ds261(Sender &snd, Orv5Result result);

// Control messages with our (or the adopted) station.
void send_enq(Sender &snd);
int send_eot(Sender &snd, int state);

// Arms the 500 ms wait for an answer to the control message just sent.
void arm_answer_wait(Sender &snd);

// An abort seen in a wait: tell the terminal and leave the state machine.
[[nodiscard]] Orv5Result abort_now(Sender &snd);

// A time-out in a wait: ask again, or give up with 52.
[[nodiscard]] Orv5Result ds_timeout(Sender &snd);
