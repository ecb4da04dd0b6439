// Frames taken from the decode tasks' re-stream lists for the RTSP tracks. The sources are
// pulled by one feeding thread per track; each object belongs to that thread.
#pragma once
#include <sys/time.h>

#include <cstdint>

#include "core/frame.h"

inline constexpr int kRtspMaxFrameSize = 8388608;
inline constexpr int kRtspAudioRate = 44100;
inline constexpr int kRtspRateNoAudio = 96001; // stands for 48000 Hz here
inline constexpr int kSilenceBlockBytes = 512;
inline constexpr uint8_t kAlawSilence = 0xD5;

// One video frame from list into dst (at most maxSize bytes): its length, or 0 when there is
// none or it was refused (empty, over maxSize, a broken chain). The frame is freed either way.
int Get_Video_Encode_Frame(unsigned char* dst, int maxSize, timeval* time, frame_buff_head* list);
// One audio frame's first segment into dst (at most cap bytes): its length, or 0.
int Get_Audio_Encode_Frame(unsigned char* dst, int cap, timeval* time, frame_buff_head* list);

class H264FramedLiveSource {
public:
    H264FramedLiveSource(frame_buff_head* list, int maxFrameSize = kRtspMaxFrameSize);
    int maxFrameSize() const { return m_MaxFrameSize; }
    // The next frame into to (maxFrameSize bytes) and its presentation time; 0 when the list
    // is empty.
    int doGetNextFrame(unsigned char* to, timeval* presentationTime);

private:
    frame_buff_head* m_pList;
    int m_MaxFrameSize;
};

class G711AudioStreamSource {
public:
    // rate: the sample rate in Hz, or 96001 for 48000 Hz.
    G711AudioStreamSource(frame_buff_head* list, int rate);

    int numChannels() const { return m_NumChannels; }
    int bitsPerSample() const { return m_BitsPerSample; }
    int samplingFrequency() const { return m_SamplingFrequency; }
    int preferredFrameSize() const { return m_PreferredFrameSize; }

    // One poll: a frame, a block of silence after a long run of empty polls, or nothing (0).
    // maxSize is limited to the preferred frame size; durationUs follows the bytes delivered.
    int doGetNextFrame(unsigned char* to, int maxSize, timeval* presentationTime, double* durationUs);

private:
    frame_buff_head* m_pList;
    int m_NumChannels = 1;
    int m_BitsPerSample = 16;
    int m_SamplingFrequency;
    double m_PlayTimePerSample;
    int m_PreferredFrameSize;
    bool m_LimitNumBytesToStream = false;
    unsigned m_NumBytesToStream = 0;
    int m_EmptyPolls = 0;
    int m_EmptyPollLimit = 1000;
};
