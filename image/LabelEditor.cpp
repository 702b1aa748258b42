#include "image/LabelEditor.h"

#include "image/Choosers.h"
#include "image/LabelListWindow.h"
#include "shell/Settings.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {
struct Option
{
    const char* code;
    const char* text;
};
// Ids of the button group are indexes into this table.
constexpr Option Options[] = {
    {"UL", "Upper left"},  {"UC", "Upper Center"},  {"UR", "Upper right"},
    {"BL", "Buttom left"}, {"BC", "Buttom center"}, {"BR", "Buttom right"},
};
} // namespace

LabelEditor::LabelEditor(LabelListWindow* owner) : QWidget(owner, Qt::Window), m_owner(owner)
{
    setObjectName(QStringLiteral("labelEditor"));
    setWindowTitle(QStringLiteral("Edit Text label"));

    auto* textGroup = new QGroupBox(QStringLiteral("Text"), this);
    m_text = new QLineEdit(textGroup);
    m_text->setObjectName(QStringLiteral("labelText"));
    auto* time = new QPushButton(QStringLiteral("Time"), textGroup);
    time->setObjectName(QStringLiteral("timeButton"));
    auto* now = new QPushButton(QStringLiteral("Date && Time"), textGroup);
    now->setObjectName(QStringLiteral("dateAndTimeButton"));
    auto* textLayout = new QHBoxLayout(textGroup);
    textLayout->addWidget(m_text, 1);
    textLayout->addWidget(time);
    textLayout->addWidget(now);

    auto* posGroup = new QGroupBox(QStringLiteral("Position"), this);
    auto* posLayout = new QGridLayout(posGroup);
    m_options = new QButtonGroup(this);
    for (int i = 0; i < 6; ++i) {
        auto* option = new QRadioButton(QString::fromLatin1(Options[i].text), posGroup);
        option->setObjectName(QStringLiteral("placement") + QLatin1String(Options[i].code));
        m_options->addButton(option, i);
        posLayout->addWidget(option, i / 3, i % 3);
    }

    auto* font = new QPushButton(QStringLiteral("Change font"), this);
    font->setObjectName(QStringLiteral("fontButton"));
    auto* colour = new QPushButton(QStringLiteral("Change text color"), this);
    colour->setObjectName(QStringLiteral("colourButton"));
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(font);
    buttons->addWidget(colour);
    buttons->addStretch(1);
    buttons->addWidget(ok);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(textGroup);
    layout->addWidget(posGroup);
    layout->addLayout(buttons);

    connect(m_text, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (m_owner->labels().contains(m_number))
            m_owner->labels().label(m_number).caption = text;
    });
    connect(time, &QPushButton::clicked, this, &LabelEditor::useTimeToken);
    connect(now, &QPushButton::clicked, this, &LabelEditor::useDateAndTimeToken);
    connect(font, &QPushButton::clicked, this, &LabelEditor::changeFont);
    connect(colour, &QPushButton::clicked, this, &LabelEditor::changeColour);
    connect(ok, &QPushButton::clicked, this, &LabelEditor::applyPlacement);
}

void LabelEditor::edit(int labelNumber)
{
    m_number = labelNumber;
    if (!m_owner->labels().contains(labelNumber))
        return;
    const TextLabel& label = m_owner->labels().label(labelNumber);
    m_text->setText(label.caption);
    // The code the label was read with (or last given here): a key under this
    // number in the store may belong to a label that was renumbered or
    // deleted since.
    selectCode(label.pos);
    show();
    raise();
    activateWindow();
}

QString LabelEditor::selectedCode() const
{
    const int id = m_options->checkedId();
    return id >= 0 ? QString::fromLatin1(Options[id].code) : QString();
}

void LabelEditor::selectCode(const QString& code)
{
    for (int i = 0; i < 6; ++i) {
        if (code == QLatin1String(Options[i].code)) {
            m_options->button(i)->setChecked(true);
            return;
        }
    }
    // None of the six: no option selected.
    m_options->setExclusive(false);
    for (QAbstractButton* b : m_options->buttons())
        b->setChecked(false);
    m_options->setExclusive(true);
}

void LabelEditor::useTimeToken() { m_text->setText(QStringLiteral("$TIME$")); }

void LabelEditor::useDateAndTimeToken() { m_text->setText(QStringLiteral("$NOW$")); }

void LabelEditor::changeFont()
{
    if (!m_owner->labels().contains(m_number))
        return;
    TextLabel& label = m_owner->labels().label(m_number);
    FontDescription font;
    font.name = label.fontName;
    font.size = label.fontSize;
    font.bold = label.bold;
    font.italic = label.italic;
    if (!chooseFont(font, this))
        return;
    label.fontName = font.name;
    label.fontSize = font.size;
    label.bold = font.bold;
    label.italic = font.italic;
}

void LabelEditor::changeColour()
{
    if (!m_owner->labels().contains(m_number))
        return;
    qint32 colour = m_owner->labels().label(m_number).color;
    if (m_owner->chooseColour(colour))
        m_owner->labels().label(m_number).color = colour;
}

void LabelEditor::applyPlacement()
{
    if (m_owner->labels().contains(m_number)) {
        TextLabel& label = m_owner->labels().label(m_number);
        const QString code = selectedCode();
        const QSizeF picture = m_owner->pictureSizeTwips();
        const QSizeF extent = m_owner->labelExtent(m_number);
        placeLabel(code, picture.width(), picture.height(), extent.width(), extent.height(), label.x,
                   label.y);
        label.pos = code;
        Settings::instance().setValue(labels::Section, QString::number(m_number) + QStringLiteral("pos"),
                                      code);
        m_owner->refreshEntry(m_number);
    }
    close();
}
