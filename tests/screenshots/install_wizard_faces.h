// The install wizard's faces for lumo-screenshots.
#pragma once

#include <QString>
#include <functional>

class QWidget;

// Saves one picture of `window` under `name`; false when it cannot.
using SaveFace = std::function<bool(QWidget& window, const QString& name)>;

// Draws every face of the install wizard (options, options with offers,
// newer version installed, installing, rolling back, finished) over a
// working script of its own in a temporary folder.
bool saveInstallWizardFaces(const SaveFace& save);
