// G.711 A-law and mu-law conversion of 16-bit PCM (segment-based, no tables).
// Pure functions: any thread, no allocation.
#pragma once
#include <cstdint>

unsigned char ALawEncode(short sample);
short ALawDecode(unsigned char code);
unsigned char ULawEncode(short sample);
short ULawDecode(unsigned char code);
unsigned char ALawToULaw(unsigned char code);
unsigned char ULawToALaw(unsigned char code);

// bytes of PCM in (bytes / 2 samples; an odd last byte is ignored) -> bytes / 2 codes.
int G711ALawEncode(unsigned char* dst, const short* src, unsigned bytes);
int G711ULawEncode(unsigned char* dst, const short* src, unsigned bytes);
// n codes -> n samples; returns the PCM length in bytes (2 * n).
int G711ALawDecode(short* dst, const unsigned char* src, unsigned n);
int G711ULawDecode(short* dst, const unsigned char* src, unsigned n);
// n codes of one law -> n codes of the other; returns n.
int G711ALawToULaw(unsigned char* dst, const unsigned char* src, unsigned n);
int G711ULawToALaw(unsigned char* dst, const unsigned char* src, unsigned n);
