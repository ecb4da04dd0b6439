// Network task entry: registers the network task (0x3000) and starts the link.
// mode 0 = access point (TX), 1 = station (RX). Start-up thread; may block until the link is up.
#pragma once

int Init_Network(int mode);
