#pragma once
// The names screen readers and UI-automation tools give the inputs of a template dialog. A
// template does not say which text labels which box; its layout does, as an operator reads it:
// the static text on the box's left on the same line, else the one just above it, else the push
// button right beside it (the action the box feeds: the new password beside Change Password).
// A check box is named by its own caption. The dialog names every input when it is built and
// again whenever the text that names it changes, so the names follow a language switch.

#include "res/dialog_templates.h"

#include <QString>

#include <cstddef>
#include <vector>

class QWidget;

namespace orv {

// Indices into the template's controls: `namer`'s caption names `input`.
struct ControlNamer
{
    std::size_t input;
    std::size_t namer;
};

// Every edit, multi-line edit, address field, combo box and list of `dialogTemplate` that its
// layout names, with the control naming it, in template order. Inputs nothing names are left
// out: their window names them itself.
std::vector<ControlNamer> controlNamers(const res::DialogTemplate& dialogTemplate);

// Gives `input` the accessible name `name`; each octet of an address field gets it with its place
// ("IP (2/4)"), since a screen reader reaches the octets one by one.
void setInputName(QWidget* input, const QString& name);

} // namespace orv
