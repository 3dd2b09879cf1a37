#include "res/dialog_templates.h"

#include <array>

namespace orv::res {
namespace {

using K = ControlKind;

// The console. Captions are layout captions; the language file replaces all but three of them.
constexpr std::array<ControlTemplate, 89> kConsoleControls{{
    {1070, K::ComboBox, u"User", u"", 102, 15, 75, 30},
    {1071, K::IpAddress, u"User", u"", 102, 33, 75, 14},
    {1007, K::Edit, u"User", u"", 102, 53, 75, 14},
    {1008, K::Edit, u"User", u"", 102, 72, 75, 14},
    {1009, K::PushButton, u"User", u"Login", 102, 89, 70, 14},
    {1021, K::Edit, u"User", u"", 21, 107, 70, 14},
    {1018, K::PushButton, u"User", u"Change Passwd", 102, 107, 70, 14},
    {1013, K::PushButton, u"Function", u"U Disk", 21, 147, 70, 14},
    {1014, K::PushButton, u"Function", u"Time Sync", 102, 147, 70, 14},
    {1016, K::PushButton, u"Function", u"Factory", 21, 165, 70, 14},
    {1015, K::PushButton, u"Function", u"Format Disk", 102, 165, 70, 14},
    {1017, K::PushButton, u"Function", u"Upgrade", 102, 199, 70, 14, StyleHidden},
    {1080, K::CheckBox, u"Function", u"U Identify", 118, 185, 50, 10, StyleLabelLeft},
    {1022, K::ComboBox, u"Platform", u"", 102, 236, 75, 30},
    {1027, K::Edit, u"Platform", u"", 102, 272, 75, 14},
    {1029, K::Edit, u"Platform", u"", 102, 291, 75, 14},
    {1031, K::Edit, u"Platform", u"", 102, 309, 75, 14},
    {1032, K::PushButton, u"Platform", u"Get", 21, 347, 70, 14},
    {1033, K::PushButton, u"Platform", u"Set", 102, 347, 74, 14},
    {1034, K::Edit, u"4G", u"", 315, 15, 75, 14},
    {1035, K::Edit, u"4G", u"", 315, 37, 75, 14},
    {1036, K::Edit, u"4G", u"", 315, 57, 75, 14},
    {1037, K::PushButton, u"4G", u"Get", 233, 79, 70, 14},
    {1038, K::PushButton, u"4G", u"Set", 315, 79, 70, 14},
    {1039, K::Edit, u"Wifi", u"", 315, 122, 75, 14},
    {1040, K::Edit, u"Wifi", u"", 315, 140, 75, 14},
    {1041, K::ComboBox, u"Wifi", u"", 315, 157, 75, 30},
    {1042, K::PushButton, u"Wifi", u"Get", 233, 174, 70, 14},
    {1043, K::PushButton, u"Wifi", u"Set", 315, 174, 70, 14},
    {1045, K::Edit, u"Device Info", u"", 315, 220, 75, 14},
    {1047, K::Edit, u"Device Info", u"", 315, 239, 75, 14},
    {1051, K::Edit, u"Device Info", u"", 315, 256, 75, 14},
    {1052, K::Edit, u"Device Info", u"", 315, 275, 75, 14},
    {1053, K::Edit, u"Device Info", u"", 315, 293, 75, 14},
    {1048, K::PushButton, u"Device Info", u"Export", 316, 327, 75, 14},
    {1054, K::PushButton, u"Device Info", u"Get", 231, 347, 75, 14},
    {1055, K::PushButton, u"Device Info", u"Set", 315, 347, 75, 14},
    {1072, K::CheckBox, u"Time", u"Summer Time", 431, 18, 59, 10, StyleLabelLeft},
    {1046, K::ComboBox, u"Time", u"", 482, 38, 130, 30},
    {1078, K::PushButton, u"Time", u"Get", 445, 58, 70, 14},
    {1079, K::PushButton, u"Time", u"Set", 525, 58, 70, 14},
    {1074, K::PushButton, u"none", u"Save Setup", 445, 184, 70, 14},
    {1075, K::PushButton, u"none", u"Load Setup", 525, 184, 70, 14},
    {1068, K::PushButton, u"none", u"Clear", 445, 347, 70, 14},
    {1069, K::PushButton, u"none", u"Save", 525, 347, 70, 14},
    {1073, K::GroupBox, u"", u"Time", 421, 3, 199, 77},
    {1019, K::GroupBox, u"", u"User", 7, 3, 200, 123},
    {1011, K::Label, u"User", u"Username", 39, 53, 33, 8},
    {1012, K::Label, u"User", u"Password", 39, 72, 32, 8},
    {1010, K::CheckBox, u"User", u"Hold", 39, 89, 30, 10},
    {1020, K::GroupBox, u"", u"Platform", 7, 224, 200, 142},
    {1023, K::Label, u"Platform", u"Platform", 39, 236, 57, 8},
    {1024, K::Label, u"Platform", u"Server Ip", 39, 255, 31, 8},
    {1026, K::Label, u"Platform", u"Port", 39, 272, 51, 8},
    {1028, K::Label, u"Platform", u"RTS ID", 39, 291, 23, 8},
    {1030, K::Label, u"Platform", u"Auth Code", 39, 309, 35, 8},
    {1057, K::GroupBox, u"", u"4G", 214, 3, 200, 99},
    {1060, K::Label, u"4G", u"APN", 240, 17, 14, 8},
    {1056, K::GroupBox, u"", u"Function", 7, 130, 200, 90},
    {1061, K::Label, u"4G", u"Username", 240, 37, 66, 8},
    {1062, K::Label, u"4G", u"Password", 240, 57, 32, 8},
    {1058, K::GroupBox, u"", u"Wifi", 213, 107, 200, 91},
    {1063, K::Label, u"Wifi", u"SSID", 240, 123, 16, 8},
    {1064, K::Label, u"Wifi", u"Password", 240, 140, 32, 8},
    {1065, K::Label, u"Wifi", u"Wifi List", 240, 157, 63, 8},
    {1059, K::GroupBox, u"", u"Device Info", 214, 202, 200, 164},
    {1044, K::Label, u"Device Info", u"Device Id", 240, 222, 65, 8},
    {1076, K::Label, u"Device Info", u"User Id", 240, 239, 67, 8},
    {1050, K::Label, u"Device Info", u"User Name", 240, 256, 67, 8},
    {1077, K::Label, u"Device Info", u"Co Id", 240, 275, 64, 8},
    {1082, K::Label, u"Device Info", u"Co Name", 240, 293, 62, 8},
    {1067, K::MultiLineEdit, u"none", u"", 422, 206, 198, 116},
    {1049, K::Label, u"User", u"Language", 40, 16, 32, 8},
    {1083, K::Label, u"User", u"IP", 40, 36, 8, 8},
    {1066, K::Label, u"Time", u"Time Zone", 431, 41, 34, 8},
    {1081, K::PushButton, u"Function", u"Batch", 21, 183, 70, 14},
    {1084, K::PushButton, u"Function", u"RNDIS", 21, 200, 70, 14},
    {1085, K::GroupBox, u"", u"GB28181", 421, 83, 199, 94},
    {1086, K::CheckBox, u"GB28181", u"Proxy Enable", 449, 100, 82, 10, StyleLabelLeft},
    {1087, K::PushButton, u"GB28181", u"Get", 445, 155, 70, 14},
    {1088, K::PushButton, u"GB28181", u"Set", 525, 155, 70, 14},
    {1091, K::Label, u"GB28181", u"Proxy Ip", 449, 116, 28, 8},
    {1092, K::Label, u"GB28181", u"Proxy Port", 449, 134, 51, 8},
    {1093, K::Edit, u"GB28181", u"", 522, 115, 75, 14},
    {1090, K::Edit, u"GB28181", u"", 522, 134, 75, 14},
    {1089, K::PushButton, u"Platform", u"GB28181", 102, 327, 74, 14},
    {1094, K::Edit, u"Platform", u"", 102, 253, 75, 14},
    {1095, K::Edit, u"Device Info", u"", 315, 310, 75, 14},
    {1096, K::Label, u"Device Info", u"Sceen Psk", 240, 310, 62, 8},
}};

constexpr std::array<ControlTemplate, 4> kAboutControls{{
    {kStaticId, K::Icon, u"none", u"", 14, 14, 21, 20},
    {kStaticId, K::Label, u"none", u"OrvCamera, Version 1.1", 42, 14, 114, 8},
    {kStaticId, K::Label, u"none", u"Body-worn camera console", 42, 26, 114, 8},
    {kIdOk, K::DefPushButton, u"none", u"OK", 113, 41, 50, 14},
}};

// The GB28181 registration dialog. Its identifiers are its own; several repeat console numbers.
constexpr std::array<ControlTemplate, 23> kGb28181Controls{{
    {1084, K::Edit, u"none", u"", 144, 22, 111, 14},
    {1096, K::Label, u"none", u"IP", 69, 27, 43, 8},
    {1085, K::Edit, u"none", u"", 144, 44, 111, 14},
    {1097, K::Label, u"none", u"端口", 69, 49, 43, 8},
    {1086, K::Edit, u"none", u"", 144, 66, 111, 14},
    {1098, K::Label, u"none", u"密码", 69, 71, 43, 8},
    {1087, K::Edit, u"none", u"", 144, 88, 111, 14},
    {1099, K::Label, u"none", u"注册时间间隔", 69, 93, 58, 8},
    {1088, K::Edit, u"none", u"", 144, 110, 111, 14},
    {1100, K::Label, u"none", u"心跳时间间隔", 69, 115, 69, 8},
    {1089, K::Edit, u"none", u"", 144, 132, 111, 14},
    {1101, K::Label, u"none", u"服务器 Id", 69, 137, 43, 8},
    {1045, K::Edit, u"none", u"", 144, 154, 111, 14},
    {1102, K::Label, u"none", u"设备 Id", 69, 159, 43, 8},
    {1091, K::Edit, u"none", u"", 144, 176, 111, 14},
    {1103, K::Label, u"none", u"通道 Id", 69, 181, 43, 8},
    {1092, K::Edit, u"none", u"", 144, 198, 111, 14},
    {1104, K::Label, u"none", u"报警输入 Id", 69, 203, 43, 8},
    {1093, K::Edit, u"none", u"", 144, 220, 111, 14},
    {1105, K::Label, u"none", u"报警输出 Id", 69, 225, 43, 8},
    {1094, K::PushButton, u"none", u"Get", 75, 237, 50, 14},
    {1095, K::PushButton, u"none", u"Set", 163, 237, 50, 14},
    {1106, K::CheckBox, u"none", u"开关", 69, 9, 83, 10, StyleLabelLeft},
}};

// The search tool's window. Captions here only lay the window out; the tool sets its texts in
// the console's language. The window grows; searchtool/ says how each control follows it.
constexpr std::array<ControlTemplate, 28> kSearchToolControls{{
    {1201, K::Label, u"none", u"Cameras attached", 7, 7, 200, 8},
    {1202, K::ListView, u"none", u"", 7, 18, 506, 150},
    {1203, K::Label, u"none", u"", 7, 172, 506, 8},
    {1218, K::ProgressBar, u"none", u"", 7, 183, 506, 12},
    {1220, K::Label, u"none", u"Setup file", 7, 204, 60, 8},
    {1204, K::Edit, u"none", u"", 70, 202, 380, 14},
    {1205, K::PushButton, u"none", u"Browse...", 455, 202, 58, 14},
    {1221, K::Label, u"none", u"Roster", 7, 222, 60, 8},
    {1206, K::Edit, u"none", u"", 70, 220, 380, 14},
    {1207, K::PushButton, u"none", u"Browse...", 455, 220, 58, 14},
    {1222, K::Label, u"none", u"Inventory", 7, 240, 60, 8},
    {1208, K::Edit, u"none", u"", 70, 238, 380, 14},
    {1209, K::PushButton, u"none", u"Browse...", 455, 238, 58, 14},
    {1225, K::Label, u"none", u"Ledger", 7, 258, 60, 8},
    {1226, K::Edit, u"none", u"", 70, 256, 380, 14},
    {1227, K::PushButton, u"none", u"Browse...", 455, 256, 58, 14},
    {1223, K::Label, u"none", u"User", 7, 276, 60, 8},
    {1210, K::Edit, u"none", u"", 70, 274, 100, 14},
    {1224, K::Label, u"none", u"Password", 180, 276, 50, 8},
    {1211, K::Edit, u"none", u"", 235, 274, 100, 14},
    {1212, K::CheckBox, u"none", u"Also set cameras not on the roster", 345, 276, 168, 10},
    {1213, K::DefPushButton, u"none", u"Apply to all", 7, 296, 75, 14},
    {1214, K::PushButton, u"none", u"Apply to selected", 87, 296, 85, 14},
    {1216, K::PushButton, u"none", u"Check all", 177, 296, 60, 14},
    {1217, K::PushButton, u"none", u"Retry failed", 242, 296, 65, 14},
    {1215, K::PushButton, u"none", u"Stop", 312, 296, 50, 14},
    {1228, K::PushButton, u"none", u"History...", 367, 296, 60, 14},
    {kIdCancel, K::PushButton, u"none", u"Close", 463, 296, 50, 14},
}};

constexpr std::array<DialogTemplate, 4> kDialogs{{
    {kAboutDialog, u"About OrvCamera", 170, 62, u"MS Shell Dlg", 8, WindowSystemMenu, kAboutControls},
    {kConsoleDialog, u"OrvCamera", 628, 373, u"MS Shell Dlg", 8, WindowSystemMenu | WindowMinimizeBox | WindowAppButton,
     kConsoleControls},
    {kGb28181Dialog, u"GB28181", 318, 258, u"MS Shell Dlg", 8, WindowSystemMenu, kGb28181Controls},
    {kSearchToolDialog, u"SearchTool", 520, 317, u"MS Shell Dlg", 8,
     WindowSystemMenu | WindowMinimizeBox | WindowAppButton | WindowResizable, kSearchToolControls},
}};

} // namespace

const ControlTemplate* DialogTemplate::control(int controlId) const
{
    for (const ControlTemplate& c : controls) {
        if (c.id == controlId) {
            return &c;
        }
    }
    return nullptr;
}

const DialogTemplate* findDialogTemplate(int id)
{
    for (const DialogTemplate& d : kDialogs) {
        if (d.id == id) {
            return &d;
        }
    }
    return nullptr;
}

std::u16string_view loadString(int id)
{
    switch (id) {
        case kStringAboutMenu:
            return u"&About OrvCamera...";
        case kStringVersion:
            return u"Ver.2018-01-16";
        default:
            return {};
    }
}

} // namespace orv::res
