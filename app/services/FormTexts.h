#pragma once

class QWidget;

// Sets a window's title and its controls' captions from the window's own section of res.xml:
// the title under the window's name, each label, button, check box, option button, group box and
// menu action under its object name, each toolbar button under "Toolbar" + the button's key (its
// action's object name). Missing keys leave empty captions, so res.xml must carry every caption.
void ApplyFormTexts(QWidget* window);
