// Built once per program: only the program without re-streaming offers QUALITY SETTING.
extern const bool menu_setup_has_quality = HDEXT_MENU_QUALITY_ITEM != 0;
