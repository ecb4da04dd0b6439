#include "ui/menu_strings.h"

#include <cstdio>

#include "periph/app_status.h"

const char menu_string_en[kMenuStrings][kMenuStringBytes] = {
    " ", // 0
    "BEST CHANNEL", // 1
    "SYSTEM SETUP", // 2
    "DEVICE INFO", // 3
    "WIRELES SSID", // 4
    "EXIT", // 5
    "QUALITY SETTING", // 6
    "HIGH QUALITY", // 7
    "STANDARD QUALITY", // 8
    "LOW QUALITY", // 9
    "FAN CONTROL", // 10
    "LANGUAGE", // 11
    "CHINESE", // 12
    "ENGLISH", // 13
    "BACK TO MENU", // 14
    "FIRMWARE UPGRADE", // 15
    "UPGRADING . . .", // 16
    "UPGRAD FAILURE", // 17
    "FACTORY RESET", // 18
    "CONFIRM", // 19
    "RETURN", // 20
    "WIFI", // 21
    "ON", // 22
    "OFF", // 23
    "TALKBACK", // 24
    "TALKBACKING", // 25
    "EXIT TALKBACK", // 26
    "BACK", // 27
    "BEST CHANNEL", // 28
    "WIFI STARTING", // 29
    "SEARCHING", // 30
    "SEARCH SUCCESS", // 31
    "SEARCH FAILURE", // 32
    "CHANGE CHANNEL", // 33
    "CHANGE SUCCESS", // 34
    "WIRELESS PAIR", // 35
    "PAIRING", // 36
    "PAIRING SUCCESS", // 37
    "PAIRING FAILURE", // 38
    "EXIT PAIRING", // 39
    "EARPHONE VOL", // 40
    "MIC VOL", // 41
};

// GB2312 bytes.
const char menu_string_cn[kMenuStrings][kMenuStringBytes] = {
    " ", // 0  
    "\xD7\xEE\xBC\xD1\xD0\xC5\xB5\xC0", // 1 最佳信道
    "\xCF\xB5\xCD\xB3\xC9\xE8\xD6\xC3", // 2 系统设置
    "\xC9\xE8\xB1\xB8\xD0\xC5\xCF\xA2", // 3 设备信息
    "\xCE\xDE\xCF\xDF\xC3\xFB\xB3\xC6", // 4 无线名称
    "\xCD\xCB\xB3\xF6\xB2\xCB\xB5\xA5", // 5 退出菜单
    "\xBB\xAD\xD6\xCA\xC9\xE8\xD6\xC3", // 6 画质设置
    "\xB8\xDF\xC7\xE5\xBB\xAD\xD6\xCA", // 7 高清画质
    "\xB1\xEA\xC7\xE5\xBB\xAD\xD6\xCA", // 8 标清画质
    "\xC1\xF7\xB3\xA9\xBB\xAD\xD6\xCA", // 9 流畅画质
    "\xB7\xE7\xC9\xC8\xBF\xD8\xD6\xC6", // 10 风扇控制
    "\xB9\xFA\xBC\xD2\xD3\xEF\xD1\xD4", // 11 国家语言
    "\xD6\xD0\xCE\xC4", // 12 中文
    "\xD3\xA2\xCE\xC4", // 13 英文
    "\xB7\xB5\xBB\xD8\xD6\xF7\xBD\xE7\xC3\xE6", // 14 返回主界面
    "\xB9\xCC\xBC\xFE\xC9\xFD\xBC\xB6", // 15 固件升级
    "\xC9\xFD\xBC\xB6\xD6\xD0. . .", // 16 升级中. . .
    "\xC9\xFD\xBC\xB6\xCA\xA7\xB0\xDC", // 17 升级失败
    "\xBB\xD6\xB8\xB4\xB3\xF6\xB3\xA7", // 18 恢复出厂
    "\xC8\xB7\xB6\xA8", // 19 确定
    "\xC8\xA1\xCF\xFB", // 20 取消
    "\xCE\xDE\xCF\xDF\xCD\xF8\xC2\xE7", // 21 无线网络
    "\xBF\xAA\xC6\xF4", // 22 开启
    "\xB9\xD8\xB1\xD5", // 23 关闭
    "\xB6\xD4\xBD\xB2", // 24 对讲
    "\xB6\xD4\xBD\xB2\xD6\xD0", // 25 对讲中
    "\xCD\xCB\xB3\xF6\xB6\xD4\xBD\xB2", // 26 退出对讲
    "\xB7\xB5\xBB\xD8", // 27 返回
    "\xD7\xEE\xBC\xD1\xD0\xC5\xB5\xC0", // 28 最佳信道
    "\xCE\xDE\xCF\xDF\xCD\xF8\xC2\xE7\xC6\xF4\xB6\xAF\xD6\xD0", // 29 无线网络启动中
    "\xCB\xD1\xCB\xF7\xD6\xD0", // 30 搜索中
    "\xCB\xD1\xCB\xF7\xB3\xC9\xB9\xA6", // 31 搜索成功
    "\xCB\xD1\xCB\xF7\xCA\xA7\xB0\xDC", // 32 搜索失败
    "\xC7\xD0\xBB\xBB\xD0\xC2\xD0\xC5\xB5\xC0", // 33 切换新信道
    "\xD0\xC2\xD0\xC5\xB5\xC0\xC7\xD0\xBB\xBB\xB3\xC9\xB9\xA6", // 34 新信道切换成功
    "\xCE\xDE\xCF\xDF\xC5\xE4\xB6\xD4", // 35 无线配对
    "\xC5\xE4\xB6\xD4\xD6\xD0", // 36 配对中
    "\xC5\xE4\xB6\xD4\xB3\xC9\xB9\xA6", // 37 配对成功
    "\xC5\xE4\xB6\xD4\xCA\xA7\xB0\xDC", // 38 配对失败
    "\xCD\xCB\xB3\xF6\xC5\xE4\xB6\xD4", // 39 退出配对
    "\xB6\xFA\xBB\xFA\xD2\xF4\xC1\xBF", // 40 耳机音量
    "\xC2\xF3\xBF\xCB\xB7\xE7\xD2\xF4\xC1\xBF", // 41 麦克风音量
};

bool menu_language_chinese() { return app_status[3].load(std::memory_order_relaxed) == 1; }

const char* menu_string(int id) {
    if (id < 0 || id >= kMenuStrings) id = 0;
    return menu_language_chinese() ? menu_string_cn[id] : menu_string_en[id];
}

void convert_resolution(char* text, ot_vo_intf_sync timing) {
    const char* what = "Not Video";
    switch (static_cast<int>(timing)) {
    case 5: what = "720@60Hz"; break;
    case 9: what = "1280@50Hz"; break;
    case 10: what = "1280@60Hz"; break;
    case 19: what = "1080@30Hz"; break;
    case 22: what = "1080@50Hz"; break;
    case 23: what = "1080@60Hz"; break;
    default: break;
    }
    std::sprintf(text, "HDMI Output : %s", what);
}
