// Field tables of the settings records and the item lists of their controls.
#include "settings/settings_records.h"

#include "settings/settings_controls.h"

const char* const kBaudItems[4] = {"4800", "9600", "19200", "38400"};
const uint16_t kBaudCodes[4] = {48, 96, 192, 384};

const char* const kDisplayTypeItems[18] = {
    "China LCD", "reserved",  "202",        "217",     "218",      "209",
    "209_17",    "MI-21",     "Shelf",      "Tokheim", "485",      "Spi",
    "Shelf led", "MI-21 i2c", "MI-18 soft", "485 RGB", "UNSG i2c", "TBL-11"};

const char* const kModeItems[16] = {
    "Inverse nozzles",
    "Push nozzle button to start",
    "Nozzle down suspends filling",
    "Autostart when nozzle up",
    "BMU mirror",
    "BMU allow load",
    "enable BMU only for preset",
    "Strict meter phase control",
    "Divide displayed summ by 10",
    "Non-inverted signal to the displays",
    "Preset summ round-up",
    "Satellite pump support",
    "Fast dresser wayne",
    "Use sound relay",
    "Fueler counter",
    "'Sever' mode / Report nozzle down AZT2.0",
};

const char* const kMode2Items[11] = {
    "Use mains 220V for valves",
    "Fast S&B",
    "Fast tokheim",
    "Proportional valves",
    "No valve stop prediction",
    "Enable BMU",
    "Disable simultaneous satellite and main nozzle load",
    "Fast tokheim, one fat nozzle",
    "Display A+B",
    "Mixed tokheim, one fat nozzle on side B",
    "Summ round-up when preset volume",
};

const char* const kMassFlagItems[8] = {
    "Use pressure meter",        "Work with pressure line 3",
    "Work with pressure line 2", "Use manual density for volume calculation",
    "Use mass for retail",       "Leave line 1 open",
    "Leave line 2 open",         "Use normalized m3",
};

const char* const kMassmeterTypeItems[4] = {"Micromotion", "Flomak", "Shtraymass", "AMF"};
const char* const kPhaseItems[3] = {"Phase 1", "Phase 1+2", "Phase 2"};
