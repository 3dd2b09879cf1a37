#pragma once
// Identifiers of the console's controls (template 102), named once for the handlers.

namespace orv::idc {

// User group
inline constexpr int kUserGroup = 1019;
inline constexpr int kLanguageLabel = 1049;
inline constexpr int kLanguage = 1070;
inline constexpr int kCameraIpLabel = 1083;
inline constexpr int kCameraIp = 1071;
inline constexpr int kUserNameLabel = 1011;
inline constexpr int kUserName = 1007;
inline constexpr int kPasswordLabel = 1012;
inline constexpr int kPassword = 1008;
inline constexpr int kHold = 1010;
inline constexpr int kLogin = 1009;
inline constexpr int kNewPassword = 1021;
inline constexpr int kChangePasswd = 1018;

// Function group
inline constexpr int kFunctionGroup = 1056;
inline constexpr int kUDisk = 1013;
inline constexpr int kTimeSync = 1014;
inline constexpr int kFactory = 1016;
inline constexpr int kFormatDisk = 1015;
inline constexpr int kUpgrade = 1017;
inline constexpr int kUIdentify = 1080;
inline constexpr int kBatch = 1081;
inline constexpr int kRndis = 1084;

// Platform group
inline constexpr int kPlatformGroup = 1020;
inline constexpr int kPlatformLabel = 1023;
inline constexpr int kPlatform = 1022;
inline constexpr int kServerIpLabel = 1024;
inline constexpr int kServerIp = 1094;
inline constexpr int kServerPortLabel = 1026;
inline constexpr int kServerPort = 1027;
inline constexpr int kRtsIdLabel = 1028;
inline constexpr int kRtsId = 1029;
inline constexpr int kRtsCodeLabel = 1030;
inline constexpr int kRtsCode = 1031;
inline constexpr int kGb28181 = 1089;
inline constexpr int kPlatformGet = 1032;
inline constexpr int kPlatformSet = 1033;

// 4G group
inline constexpr int k4GGroup = 1057;
inline constexpr int kApnLabel = 1060;
inline constexpr int kApn = 1034;
inline constexpr int kApnUserLabel = 1061;
inline constexpr int kApnUser = 1035;
inline constexpr int kApnPasswordLabel = 1062;
inline constexpr int kApnPassword = 1036;
inline constexpr int k4GGet = 1037;
inline constexpr int k4GSet = 1038;

// Wifi group
inline constexpr int kWifiGroup = 1058;
inline constexpr int kSsidLabel = 1063;
inline constexpr int kSsid = 1039;
inline constexpr int kWifiPasswordLabel = 1064;
inline constexpr int kWifiPassword = 1040;
inline constexpr int kWifiListLabel = 1065;
inline constexpr int kWifiList = 1041;
inline constexpr int kWifiGet = 1042;
inline constexpr int kWifiSet = 1043;

// Device Info group
inline constexpr int kDeviceGroup = 1059;
inline constexpr int kDeviceIdLabel = 1044;
inline constexpr int kDeviceId = 1045;
inline constexpr int kPoliceIdLabel = 1076;
inline constexpr int kPoliceId = 1047;
inline constexpr int kPoliceNameLabel = 1050;
inline constexpr int kPoliceName = 1051;
inline constexpr int kCoIdLabel = 1077;
inline constexpr int kCoId = 1052;
inline constexpr int kCoNameLabel = 1082;
inline constexpr int kCoName = 1053;
inline constexpr int kScreenPskLabel = 1096;
inline constexpr int kScreenPsk = 1095;
inline constexpr int kExportDeviceId = 1048;
inline constexpr int kDeviceInfoGet = 1054;
inline constexpr int kDeviceInfoSet = 1055;

// Time group
inline constexpr int kTimeGroup = 1073;
inline constexpr int kSummerTime = 1072;
inline constexpr int kTimeZoneLabel = 1066;
inline constexpr int kTimeZone = 1046;
inline constexpr int kTimeGet = 1078;
inline constexpr int kTimeSet = 1079;

// GB28181 proxy group
inline constexpr int kProxyGroup = 1085;
inline constexpr int kProxyEnable = 1086;
inline constexpr int kProxyIpLabel = 1091;
inline constexpr int kProxyIp = 1093;
inline constexpr int kProxyPortLabel = 1092;
inline constexpr int kProxyPort = 1090;
inline constexpr int kProxyGet = 1087;
inline constexpr int kProxySet = 1088;

// Outside the groups
inline constexpr int kSaveSetup = 1074;
inline constexpr int kLoadSetup = 1075;
inline constexpr int kLog = 1067;
inline constexpr int kClearLog = 1068;
inline constexpr int kSaveLog = 1069;

} // namespace orv::idc
