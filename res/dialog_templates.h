#pragma once
// The program's dialog templates and string resources as data: every control with its identifier,
// kind, group, layout caption and rectangle in dialog units, in template order (the tab order).
// Standard C++ only; console/ turns a template into widgets.

#include <cstdint>
#include <span>
#include <string_view>

namespace orv::res {

enum class ControlKind : std::uint8_t {
    PushButton,
    DefPushButton,
    Edit,          // single line, border, horizontal scrolling
    MultiLineEdit, // multi-line with a vertical scroll bar
    ComboBox,      // drop-down, vertical scroll bar, rows inserted at explicit positions
    IpAddress,     // four decimal octets
    CheckBox,
    GroupBox,
    Label,
    Icon,        // the application icon
    ListView,    // a list of rows in columns, several rows selectable
    ProgressBar, // 0..100, its percentage shown
};

enum ControlStyle : std::uint8_t {
    StyleNone = 0,
    StyleHidden = 1 << 0,    // created invisible
    StyleLabelLeft = 1 << 1, // check box with its caption left of the box
};

// Identifier of controls nothing refers to.
inline constexpr int kStaticId = -1;
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

struct ControlTemplate
{
    int id;
    ControlKind kind;
    std::u16string_view group; // caption of the group box around it; "none" or empty when outside any
    std::u16string_view caption;
    int x, y, w, h; // dialog units
    std::uint8_t style = StyleNone;
};

enum WindowStyle : std::uint8_t {
    WindowSystemMenu = 1 << 0,
    WindowMinimizeBox = 1 << 1,
    WindowAppButton = 1 << 2, // own button in the taskbar
    // Resizable and maximisable; the template's size is the smallest the window gets, and the
    // window says how its controls follow its size.
    WindowResizable = 1 << 3,
};

struct DialogTemplate
{
    int id;
    std::u16string_view caption;
    int width, height; // dialog units
    std::u16string_view fontFamily;
    int fontPointSize;
    std::uint8_t windowStyle;
    std::span<const ControlTemplate> controls;

    const ControlTemplate* control(int controlId) const;
};

inline constexpr int kAboutDialog = 100;
inline constexpr int kConsoleDialog = 102;
inline constexpr int kGb28181Dialog = 129;
inline constexpr int kSearchToolDialog = 131;

// Null for an unknown identifier.
const DialogTemplate* findDialogTemplate(int id);

inline constexpr int kStringAboutMenu = 101; // "&About OrvCamera..."
inline constexpr int kStringVersion = 102;   // "Ver.2018-01-16"

// Empty for an unknown identifier.
std::u16string_view loadString(int id);

} // namespace orv::res
