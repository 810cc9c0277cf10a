// What a screen reader learns about the skinned controls. Their captions
// are painted (buttons carry them in their images), so Qt's own
// descriptions would name nothing: these give every control its name, its
// role (button, check box, link, text, progress bar) and its state
// (checked, disabled, focused), and the bar its value.
#pragma once

class QWidget;

namespace lumo::ui {

class CPngButton;
class CLumoProgress;

// Registers the descriptions with Qt once; the controls call it.
void installAccessibleControls();

// Tell an active screen reader what changed.
void notifyCheckedChanged(CPngButton& box);
void notifyValueChanged(CLumoProgress& bar, int position);

}  // namespace lumo::ui
