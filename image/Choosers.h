#pragma once
// Small dialog routines the windows share: the font and colour choosers, the
// folder picker and the removal of a window's close button. Tests answer the
// choosers in advance; in test mode an unanswered chooser is cancelled, so no
// test ever blocks on a dialog.

#include <QString>
#include <QtGlobal>
#include <optional>

class QWidget;

// What a label keeps of a font, and so all the font dialog offers.
struct FontDescription
{
    QString name;
    float size = 12; // points
    bool bold = false, italic = false;
};

// Shows the font dialog preset to `font`, without effects such as underline
// that a label could not keep. On OK writes the chosen font back and returns
// true; on Cancel changes nothing and returns false.
bool chooseFont(FontDescription& font, QWidget* owner = nullptr);
// Shows the colour dialog. On OK `colour` (0x00BBGGRR) becomes the choice and
// the result is true; on Cancel it is left alone.
bool chooseColour(qint32& colour, QWidget* owner = nullptr);
// The chosen folder's path, or empty when cancelled.
QString chooseFolder(QWidget* owner, const QString& prompt);
// Takes the close command (and close button) off a top-level window.
void removeCloseButton(QWidget* window);

namespace dialogs {
// Test hooks: the next chooser takes this answer (nullopt = Cancel) unshown.
void setNextFont(std::optional<FontDescription> font);
void setNextColour(std::optional<qint32> colour);
} // namespace dialogs
