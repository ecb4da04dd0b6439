// Network task entry: registers the network task (0x3000) and starts the link.
// mode 0 = access point (TX), 1 = station (RX). Start-up thread; returns once the task runs, with
// the link status at "starting"; the link itself comes up on the network task.
#pragma once

int Init_Network(int mode);
