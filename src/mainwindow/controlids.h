#pragma once

// Control ids of the main window (template 102) that the operations touch.
namespace ControlId {
constexpr int ChangeButton = 1017;
constexpr int OptionButton = 1010;
constexpr int PurchaseButton = 1013;
constexpr int InquiryButton = 1016;
constexpr int LogoutButton = 1015;
constexpr int IpList = 1019;
constexpr int ProductLabel = 1082;
constexpr int ExpiryLabel = 1067;
constexpr int RandomButton = 1068;
constexpr int ResetButton = 1076;
constexpr int CheckAll = 1084;
constexpr int StatusLabel = 1025;
constexpr int StatusLine = 1032;
constexpr int AddressLabel = 1023;
constexpr int Address = 1026;
constexpr int ElapsedLabel = 1024;
constexpr int Elapsed = 1027;
constexpr int MemoButton = 1087;
constexpr int BadIpButton = 1077;
constexpr int InPrivateButton = 1086;
constexpr int AutoChange = 1069;
constexpr int AutoChangeMinutes = 1075;
constexpr int AutoChangeSlider = 1074;
constexpr int LogLink = 1042;
} // namespace ControlId
