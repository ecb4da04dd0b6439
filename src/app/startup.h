// Process start-up: role choice, core runtime in its fixed order and sizes, signal policy,
// board GPIO set-up and the role pipeline. All of it runs once on the main thread.
#pragma once
#include <csignal>

#include "board/role.h"

// Core sizes fixed at start-up.
inline constexpr int kMsgRecords = 1024;
inline constexpr int kEventHandlerRecords = 512;
inline constexpr int kTaskRecords = 40;
inline constexpr int kVideoFrames = 512;
inline constexpr int kVideoFrameBytes = 102400;
inline constexpr int kAudioFrames = 512;
inline constexpr int kAudioFrameBytes = 8192;

int task_start();
int init_sys_task();
int set_gpio();

// RX: starts the video and audio decode tasks (called when a TX announces its stream). 0.
int StartMedia(int unused);

// Signal policy (signals.cpp).
void register_signal();
void OnSIGSEGV(int sig, siginfo_t* info, void* context);
// 1 when installed, 0 when the system refused (signal 9 is always refused).
int install_signal_hanlder(int sig, void (*handler)(int));
void install_quiet_signals();
