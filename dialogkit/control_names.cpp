#include "dialogkit/control_names.h"

#include "dialogkit/ip_address_edit.h"

#include <QLineEdit>
#include <QWidget>

#include <algorithm>
#include <optional>
#include <span>

namespace orv {
namespace {

using K = res::ControlKind;

// A line of the form is as tall as an edit box; a combo box's template height includes its
// dropped-down list.
constexpr int kLineHeight = 14;
// How far above a box a text still reads as its heading, and how far right of a box its button
// may sit, in dialog units.
constexpr int kHeadingGap = 8;
constexpr int kButtonGap = 16;

bool isInput(K kind)
{
    return kind == K::Edit || kind == K::MultiLineEdit || kind == K::IpAddress || kind == K::ComboBox ||
           kind == K::ListView;
}

// Inputs of one line: the left-label and button rules apply to them only.
bool isOneLine(K kind)
{
    return kind == K::Edit || kind == K::IpAddress || kind == K::ComboBox;
}

int lineHeight(const res::ControlTemplate& c)
{
    return std::min(c.h, kLineHeight);
}

// Whether the middle of `c` lies on the line of `input`.
bool onLineOf(const res::ControlTemplate& c, const res::ControlTemplate& input)
{
    const int middle2 = 2 * c.y + lineHeight(c);
    return middle2 >= 2 * (input.y - 1) && middle2 <= 2 * (input.y + lineHeight(input) + 1);
}

bool overlapsHorizontally(const res::ControlTemplate& a, const res::ControlTemplate& b)
{
    return a.x < b.x + b.w && b.x < a.x + a.w;
}

// Whether another input stands on `input`'s line between x positions `from` and `to`.
bool inputBetween(std::span<const res::ControlTemplate> controls, const res::ControlTemplate& input, int from, int to)
{
    for (const res::ControlTemplate& c : controls) {
        if (&c != &input && isInput(c.kind) && onLineOf(c, input) && c.x >= from && c.x + c.w <= to) {
            return true;
        }
    }
    return false;
}

std::optional<std::size_t> labelOnTheLeft(std::span<const res::ControlTemplate> controls,
                                          const res::ControlTemplate& input)
{
    std::optional<std::size_t> best;
    for (std::size_t i = 0; i < controls.size(); ++i) {
        const res::ControlTemplate& c = controls[i];
        if (c.kind != K::Label || c.x + c.w > input.x + 1 || !onLineOf(c, input)) {
            continue;
        }
        if (!best || c.x + c.w > controls[*best].x + controls[*best].w) {
            best = i;
        }
    }
    if (best && inputBetween(controls, input, controls[*best].x + controls[*best].w, input.x)) {
        return std::nullopt;
    }
    return best;
}

std::optional<std::size_t> labelAbove(std::span<const res::ControlTemplate> controls, const res::ControlTemplate& input)
{
    std::optional<std::size_t> best;
    for (std::size_t i = 0; i < controls.size(); ++i) {
        const res::ControlTemplate& c = controls[i];
        const int bottom = c.y + c.h;
        if (c.kind != K::Label || bottom > input.y + 1 || input.y - bottom > kHeadingGap ||
            !overlapsHorizontally(c, input)) {
            continue;
        }
        if (!best || bottom > controls[*best].y + controls[*best].h) {
            best = i;
        }
    }
    return best;
}

std::optional<std::size_t> buttonOnTheRight(std::span<const res::ControlTemplate> controls,
                                            const res::ControlTemplate& input)
{
    std::optional<std::size_t> best;
    const int right = input.x + input.w;
    for (std::size_t i = 0; i < controls.size(); ++i) {
        const res::ControlTemplate& c = controls[i];
        if ((c.kind != K::PushButton && c.kind != K::DefPushButton) || c.x < right - 1 || c.x - right > kButtonGap ||
            !onLineOf(c, input)) {
            continue;
        }
        if (!best || c.x < controls[*best].x) {
            best = i;
        }
    }
    return best;
}

} // namespace

std::vector<ControlNamer> controlNamers(const res::DialogTemplate& dialogTemplate)
{
    const std::span<const res::ControlTemplate> controls = dialogTemplate.controls;
    std::vector<ControlNamer> namers;
    for (std::size_t i = 0; i < controls.size(); ++i) {
        const res::ControlTemplate& input = controls[i];
        if (!isInput(input.kind)) {
            continue;
        }
        std::optional<std::size_t> namer;
        if (isOneLine(input.kind)) {
            namer = labelOnTheLeft(controls, input);
        }
        if (!namer) {
            namer = labelAbove(controls, input);
        }
        if (!namer && isOneLine(input.kind)) {
            namer = buttonOnTheRight(controls, input);
        }
        if (namer) {
            namers.push_back({i, *namer});
        }
    }
    return namers;
}

void setInputName(QWidget* input, const QString& name)
{
    if (!input) {
        return;
    }
    input->setAccessibleName(name);
    if (auto* address = qobject_cast<IpAddressEdit*>(input)) {
        for (int i = 0; i < 4; ++i) {
            address->field(i)->setAccessibleName(QStringLiteral("%1 (%2/4)").arg(name).arg(i + 1));
        }
    }
}

} // namespace orv
