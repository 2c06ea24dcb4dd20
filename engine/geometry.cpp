#include "engine/geometry.h"

namespace busdesk::engine {

namespace {

struct Place {
    std::string_view name;
    TwipRect rect;
};

// Where each control stands, in twips, relative to the frame that holds it
// (or to the window). Option and check boxes are bare 255 x 255 boxes with
// their label to the right; the two flags stand in a second column beside
// the short role labels, so no caption has to be cut. `low` and `hig` lie beyond the right edge of Frame3 so
// it clips them; the service and diagnostic controls lie right of and below
// the initial client area.
constexpr Place kPlaces[] = {
    {"CmbPort", {120, 330, 1200, 330}},
    {"Frame2", {1440, 60, 3180, 750}},
    {"BTNOpenCom", {120, 300, 1440, 360}},
    {"BTNCloseCom", {1620, 300, 1440, 360}},
    {"Pic", {4740, 315, 330, 330}},
    {"Label5", {5160, 60, 1320, 240}},
    {"sn", {5160, 300, 2625, 390}},
    {"Label4", {120, 870, 1320, 240}},
    {"CmbNet", {120, 1110, 1200, 330}},
    {"Label3", {1500, 870, 2100, 240}},
    {"netdev", {1500, 1140, 3570, 270}},
    {"ver2", {5160, 750, 1320, 240}},
    {"vv", {5160, 990, 2625, 270}},
    {"MsgCom", {120, 1500, 4950, 360}},
    {"ProgressBar1", {120, 1920, 4950, 210}},
    {"Opros", {5160, 1350, 2625, 360}},
    {"Find_metki", {5160, 1770, 2625, 360}},
    {"Frame5", {120, 2220, 2550, 1170}},
    {"ur", {120, 300, 1050, 240}},
    {"uroven", {1200, 300, 1260, 240}},
    {"te", {120, 570, 1050, 240}},
    {"temp", {1200, 570, 1260, 240}},
    {"tek_l", {120, 840, 1050, 240}},
    {"tek", {1200, 840, 1260, 240}},
    {"Frame4", {120, 3450, 2550, 1470}},
    {"l", {120, 300, 1320, 240}},
    {"lo", {1470, 300, 1020, 240}},
    {"h", {120, 570, 1320, 240}},
    {"hi", {1470, 570, 1020, 240}},
    {"n", {120, 840, 1320, 240}},
    {"ne", {1470, 840, 1020, 240}},
    {"k", {120, 1110, 1320, 240}},
    {"ko", {1470, 1110, 1020, 240}},
    {"Frame3", {120, 4980, 2550, 780}},
    {"net", {120, 300, 2310, 360}},
    {"low", {2640, 300, 1950, 360}},
    {"hig", {2640, 720, 1950, 360}},
    {"modes", {2760, 2220, 2310, 3240}},
    {"R_a", {90, 330, 255, 255}},
    {"R_analog", {375, 330, 1845, 255}},
    {"R_f", {90, 630, 255, 255}},
    {"R_fr", {375, 630, 1845, 450}},
    {"R_p485", {90, 1110, 255, 255}},
    {"цццц", {375, 1110, 615, 255}},
    {"R485", {90, 1560, 255, 255}},
    {"R_485", {375, 1560, 615, 255}},
    {"R_p", {90, 1860, 255, 255}},
    {"Label2", {375, 1860, 1845, 255}},
    {"usredn", {1020, 1110, 255, 255}},
    {"usred", {1290, 1110, 960, 435}},
    {"iinv", {1020, 1560, 255, 255}},
    {"invers", {1290, 1560, 960, 255}},
    {"Set_mode", {90, 2760, 2130, 360}},
    {"Frame6", {5160, 2220, 2625, 3840}},
    {"Label14", {120, 300, 1440, 240}},
    {"SerNumMetki", {1590, 300, 960, 240}},
    {"Label15", {120, 630, 1440, 240}},
    {"outID", {1590, 630, 960, 240}},
    {"Label9", {120, 960, 1440, 240}},
    {"ID_Metki", {1590, 930, 960, 300}},
    {"Label6", {120, 1290, 1440, 240}},
    {"ModeMetki", {1590, 1260, 960, 300}},
    {"Label21", {120, 1620, 1440, 240}},
    {"sleep_time", {1590, 1590, 960, 300}},
    {"Label7", {120, 1950, 1440, 240}},
    {"IntervalMetki", {1590, 1920, 960, 300}},
    {"Label8", {120, 2280, 1440, 240}},
    {"PowerMetki", {1590, 2250, 960, 300}},
    {"Label20", {120, 2610, 1440, 240}},
    {"UrPr", {1590, 2610, 960, 240}},
    {"Label18", {120, 2940, 1440, 240}},
    {"outVer", {1590, 2940, 960, 240}},
    {"ReadParamMetki", {120, 3360, 1170, 360}},
    {"SetModesMetki", {1350, 3360, 1200, 360}},
    {"CmdBoxText", {5160, 6150, 3600, 330}},
    {"Frame1", {120, 6540, 7650, 3000}},
    {"Label1", {120, 300, 1800, 240}},
    {"txtRec", {120, 570, 7410, 2310}},
    {"Set_ident", {8100, 120, 3750, 360}},
    {"InstSN", {8100, 540, 3750, 360}},
    {"Label11", {8100, 1050, 960, 240}},
    {"num_bytes", {9120, 1020, 900, 300}},
    {"Label12", {8100, 1440, 1500, 240}},
    {"textOutCmd", {9660, 1440, 1500, 240}},
    {"Label13", {8100, 1740, 1500, 240}},
    {"OutKolBytes", {9660, 1740, 1500, 240}},
    {"Label16", {8100, 2040, 1500, 240}},
    {"outTime", {9660, 2040, 1500, 240}},
    {"Label17", {8100, 2340, 1500, 240}},
    {"outMode", {9660, 2340, 1500, 240}},
    {"Label19", {8100, 2640, 1500, 240}},
    {"outPower", {9660, 2640, 1500, 240}},
    {"Label10", {8100, 2940, 1500, 240}},
    {"outSN", {9660, 2940, 1500, 240}},
};

}  // namespace

std::optional<TwipRect> PlaceOf(std::string_view name) {
    for (const Place& p : kPlaces) {
        if (p.name == name) return p.rect;
    }
    return std::nullopt;
}

int TwipsToPixels(int twips, double dpi) {
    return static_cast<int>(twips * dpi / kTwipsPerInch + 0.5);
}

}  // namespace busdesk::engine
