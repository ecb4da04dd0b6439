// Stream transport entries. CreateSender (TX) starts the accept and heartbeat threads;
// CreateReceiver (RX) registers the receiver task (0x4000) and returns after the first
// heartbeat connection to the TX.
#pragma once

int CreateSender();
int CreateReceiver();
