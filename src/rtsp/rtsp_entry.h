// RTSP re-stream check thread (RX). In the build without re-streaming it returns at once.
#pragma once

void* rtsp_check(void* arg);
