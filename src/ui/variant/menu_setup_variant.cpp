// Built once per program: only the program without re-streaming offers QUALITY SETTING.
#ifdef HDEXT_NO_RTSP
extern const bool menu_setup_has_quality = true;
#else
extern const bool menu_setup_has_quality = false;
#endif
