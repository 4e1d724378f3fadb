#pragma once

// Waiting for the reply that can belong to the request just sent. A reply that comes late, after
// its own request timed out, arrives while a later request waits; the controller answers in
// order, so what is not the reply asked for (another command, another length) is passed over and
// the wait goes on until the time-out.

#include "FrameLink.h"

#include <functional>

// Receives frames into the link's DeviceAddress, FrameCommand, FrameLength and RxBuffer until
// one for which belongs() is true (then true), or until timeoutMs (and the link's network
// allowance, RxFrame's own rule) has passed since the call (then false). A time-out after a
// frame was passed over leaves the link's outcome WrongReply, otherwise the link's own (TimedOut,
// PortFailed, NotOpen). A box sending nothing but frames passed over cannot hold the wait
// longer than the time-out and one allowance.
bool ReceiveReplyThat(FrameLink& link, int timeoutMs, const std::function<bool()>& belongs,
                      LinkOutcome* outcome);
