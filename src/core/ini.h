// The INI document store: one process-wide document, no lock (the parameter task and start-up
// serialise access). Lines the store does not understand are kept verbatim.
#pragma once

int OpenIniFile(const char* path);
int WriteIniFile(const char* path);
void CloseIniFile();
const char* ReadString(const char* section, const char* key, const char* def);
int ReadInt(const char* section, const char* key, int def);
double ReadDouble(const char* section, const char* key, double def);
bool ReadBool(const char* section, const char* key, bool def);
long long ReadLongLongInt(const char* section, const char* key, long long def);
void WriteString(const char* section, const char* key, const char* value);
void WriteInt(const char* section, const char* key, int value);
void WriteDouble(const char* section, const char* key, double value);
void WriteBool(const char* section, const char* key, bool value);
void WriteLongLongInt(const char* section, const char* key, long long value);

// True when `value` reads back unchanged once stored: no ';' (a comment follows it), no '['
// together with ']' (the line would read as a section), no line break. Writes refuse others.
bool IniValueStorable(const char* value);
// Removes the temporary files that a save of `path` killed half-way left beside it. Start-up.
void RemoveIniTemps(const char* path);
