// The parameter store: the unit's persistent settings ("/userdata/system.ini",
// "/userdata/wifi.ini") and the parameter task (module 0x2000), the only place that changes
// them after start-up. Readers on any thread copy records out under the block lock.
#pragma once
#include <chrono>
#include <cstdint>
#include <mutex>

#include "core/task.h"
#include "settings/param_types.h"

inline constexpr uint32_t kMsgParamWifiCredentials = 0x2003;
inline constexpr uint32_t LOCAL_MSG_CHANGE_WIFI_CHANNEL = 0x2004;
inline constexpr uint32_t kMsgParamFan = 0x2005;
inline constexpr uint32_t kMsgParamQuality = 0x2006;
inline constexpr uint32_t kMsgParamLanguage = 0x2007;
inline constexpr uint32_t kMsgParamFactoryReset = 0x2008;
inline constexpr uint32_t kMsgParamReboot = 0x2009;
inline constexpr uint32_t kMsgParamStoreChannel = 0x200D;
inline constexpr uint32_t kMsgParamLeds = 0x200E;

inline constexpr const char* kSystemIniPath = "/userdata/system.ini";
inline constexpr const char* kWifiIniPath = "/userdata/wifi.ini";
inline constexpr const char* kDefaultSsid = "QUENDOR_DEFAULT";
inline constexpr uint8_t kDefaultChannel = 36;
inline constexpr int kFanGpio = 101;

// Pauses of the store. The defaults are the unit's; tests shorten them.
struct ParamTiming {
    std::chrono::milliseconds settle{100};        // after each save
    std::chrono::milliseconds reboot_wait{3000};  // before and after "reboot -f"
};

// Outside effects of the store, wired by start-up (the capture pipeline is not part of this
// library) and replaced by tests. A null hook does nothing.
struct ParamHooks {
    // Restarts the active video input so the encoder takes the new bit rate.
    void (*restart_video_input)() = nullptr;
};

class CParamConfig {
public:
    static CParamConfig* Instance();

    // Loads or creates both files and applies derived values. Start-up only (no task yet).
    int Init();

    void GetWifiInfo(ABS_WIFI_AP_CONFIG_t* out);
    void get_wifi_ap_info(ABS_WIFI_AP_CONFIG_t* out) { GetWifiInfo(out); }
    void set_wifi_ap_info(const ABS_WIFI_AP_CONFIG_t* in);
    int GetWifiChn();
    int get_wifi_enable();
    int get_wifi_hidden();
    void GetSystemInfo(ABS_SYS_INFO_CONFIG* out);
    void SetSystemInfo(const ABS_SYS_INFO_CONFIG* in);

    // Channel stepping through the supported 5 GHz channels, from the channel in use. Fill
    // info with the next or previous channel (bandwidth 0) and return -1 always; the caller
    // sends info as channel message 0x2004. UI or key thread.
    int GetWifiSupportNextChn5G(ABS_WIFI_CHN_INFO_t* info);
    int GetWifiSupportPrevChn5G(ABS_WIFI_CHN_INFO_t* info);

    // Write the whole table into a fresh document and then the file: 0, or -1.
    int save_wifi_ap_to_file();
    int save_sys_info_to_file();

    // Sends {src, 0x2000, msgid, len, data}; the payload is copied. Any thread.
    static int ParamNotify(uint32_t src, uint32_t msgid, const void* data, uint32_t len);

    // Applies one parameter-task message. Parameter task thread (tests call it directly).
    void HandleMessage(uint32_t msg_id, const void* data, uint32_t len);

    // Task callbacks: InitParamConfig registers MsgHandler for the task.
    static void InitParamConfig(THR_TASK* task);
    static void MsgHandler(THR_TASK* task, MQ_LIST* msg);

    void SetTiming(const ParamTiming& t);
    void SetHooks(const ParamHooks& h);

private:
    CParamConfig() = default;
    void init_sys_info();
    int init_wifi_ap_info();
    void apply_quality_at_start();
    void init_fan();
    void set_sys_pin_code();
    void change_channel(const void* data, uint32_t len);
    void store_channel(uint8_t ch);
    void set_quality(uint8_t q);
    void factory_reset();
    void settle();
    void reboot_wait();
    int load_table(const INI_HEAD_INFO* table, const char* file);
    int save_table(const INI_HEAD_INFO* table, const char* file);

    SETTINGS_BLOCK* m_block = nullptr;
    std::recursive_mutex m_lock;  // block and INI document
    ParamTiming m_timing;
    ParamHooks m_hooks;
    int m_appliedStep = 0;
    bool m_stepTaken = false;  // channel and bandwidth in use taken over from the stored ones
    void take_stepping_state();
};

extern CParamConfig* g_pParamConfig;

// Stores config as g_pParamConfig, runs Init() and registers the parameter task. Start-up only.
int CreateParamTask(CParamConfig* config);

// False, with a message on standard error, when a text field could not be stored and read back.
bool wifi_storable(const ABS_WIFI_AP_CONFIG_t& w);

// The real 5 GHz channels and their centre frequencies in MHz (5000 + 5 x channel).
struct channel_freq {
    int channel;
    int freq;
};
inline constexpr channel_freq ch_fre[] = {
    {36, 5180},  {40, 5200},  {44, 5220},  {48, 5240},  {52, 5260},  {56, 5280},
    {60, 5300},  {64, 5320},  {100, 5500}, {104, 5520}, {108, 5540}, {112, 5560},
    {116, 5580}, {120, 5600}, {124, 5620}, {128, 5640}, {132, 5660}, {136, 5680},
    {140, 5700}, {149, 5745}, {153, 5765}, {157, 5785}, {161, 5805},
};
inline constexpr int kChFreCount = sizeof ch_fre / sizeof ch_fre[0];

// True for a channel of ch_fre: the only channels the unit may store, take from the air or
// the app, or write into the daemons' files. Any thread.
bool channel_supported(int channel);
// True for a channel of the stepping table (36-48, 149-161): the only ones calibration and
// the channel buttons choose. Any thread.
bool channel_steppable(int channel);
// Prints one line on standard output naming an unsupported channel, the supported set and
// what happens instead (e.g. "refused, nothing changed"). Any thread.
void report_unsupported_channel(int channel, const char* outcome);

// Quality step to bit rate in Mbit/s: 0 -> 12, 1 -> 8, 2 -> 6; -1 for any other value.
int quality_to_bitrate(int quality);
