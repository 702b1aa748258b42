#include "image/Choosers.h"

#include "capture/Prompt.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QFontDialog>
#include <QGroupBox>
#include <QWidget>
#include <cmath>

namespace {

struct Pending
{
    bool font = false;
    std::optional<FontDescription> fontAnswer;
    bool colour = false;
    std::optional<qint32> colourAnswer;
};

Pending& pending()
{
    static Pending p;
    return p;
}

} // namespace

void dialogs::setNextFont(std::optional<FontDescription> font)
{
    pending().font = true;
    pending().fontAnswer = std::move(font);
}

void dialogs::setNextColour(std::optional<qint32> colour)
{
    pending().colour = true;
    pending().colourAnswer = colour;
}

bool chooseFont(FontDescription& font, QWidget* owner)
{
    std::optional<FontDescription> answer;
    if (pending().font) {
        pending().font = false;
        answer = std::exchange(pending().fontAnswer, std::nullopt);
    } else if (!MessageBox::testMode()) {
        QFont initial;
        if (!font.name.isEmpty())
            initial.setFamily(font.name);
        if (font.size > 0)
            initial.setPointSizeF(font.size);
        initial.setBold(font.bold);
        initial.setItalic(font.italic);
        // Qt's own dialog, whatever the desktop: a native one cannot be told
        // to leave out the effects.
        QFontDialog dialog(initial, owner);
        dialog.setOption(QFontDialog::DontUseNativeDialog);
        for (QCheckBox* effect : dialog.findChildren<QCheckBox*>()) {
            effect->hide();
            if (auto* group = qobject_cast<QGroupBox*>(effect->parentWidget()))
                group->hide();
        }
        if (dialog.exec() == QDialog::Accepted) {
            const QFont chosen = dialog.selectedFont();
            FontDescription d;
            d.name = chosen.family();
            d.size = float(chosen.pointSizeF());
            d.bold = chosen.bold();
            d.italic = chosen.italic();
            answer = d;
        }
    }
    if (!answer)
        return false;
    font = *answer;
    return true;
}

bool chooseColour(qint32& colour, QWidget* owner)
{
    std::optional<qint32> answer;
    if (pending().colour) {
        pending().colour = false;
        answer = std::exchange(pending().colourAnswer, std::nullopt);
    } else if (!MessageBox::testMode()) {
        const QColor c = QColorDialog::getColor(Qt::black, owner);
        if (c.isValid())
            answer = qint32(c.red() | (c.green() << 8) | (c.blue() << 16));
    }
    if (!answer)
        return false;
    colour = *answer;
    return true;
}

QString chooseFolder(QWidget* owner, const QString& prompt)
{
    return FileDialog::getExistingDirectory(owner, prompt);
}

void removeCloseButton(QWidget* window)
{
    if (!window)
        return;
    const bool visible = window->isVisible();
    window->setWindowFlags((window->windowFlags() | Qt::CustomizeWindowHint | Qt::WindowTitleHint) &
                           ~Qt::WindowCloseButtonHint);
    // Changing flags hides a shown window.
    if (visible)
        window->show();
}
