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
    setObjectName(QStringLiteral("LabelEditor"));
    setWindowTitle(QStringLiteral("Edit Text label"));

    auto* textGroup = new QGroupBox(QStringLiteral("Text"), this);
    m_text = new QLineEdit(textGroup);
    m_text->setObjectName(QStringLiteral("labelText"));
    auto* time = new QPushButton(QStringLiteral("Time"), textGroup);
    time->setObjectName(QStringLiteral("TimeButton"));
    auto* now = new QPushButton(QStringLiteral("Date && Time"), textGroup);
    now->setObjectName(QStringLiteral("NowButton"));
    auto* textLayout = new QHBoxLayout(textGroup);
    textLayout->addWidget(m_text, 1);
    textLayout->addWidget(time);
    textLayout->addWidget(now);

    auto* posGroup = new QGroupBox(QStringLiteral("Position"), this);
    auto* posLayout = new QGridLayout(posGroup);
    m_options = new QButtonGroup(this);
    for (int i = 0; i < 6; ++i) {
        auto* option = new QRadioButton(QString::fromLatin1(Options[i].text), posGroup);
        option->setObjectName(QStringLiteral("Option") + QLatin1String(Options[i].code));
        m_options->addButton(option, i);
        posLayout->addWidget(option, i / 3, i % 3);
    }

    auto* font = new QPushButton(QStringLiteral("Change font"), this);
    font->setObjectName(QStringLiteral("FontButton"));
    auto* color = new QPushButton(QStringLiteral("Change text color"), this);
    color->setObjectName(QStringLiteral("ColorButton"));
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("OkButton"));
    ok->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(font);
    buttons->addWidget(color);
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
    connect(time, &QPushButton::clicked, this, &LabelEditor::timeClicked);
    connect(now, &QPushButton::clicked, this, &LabelEditor::nowClicked);
    connect(font, &QPushButton::clicked, this, &LabelEditor::changeFont);
    connect(color, &QPushButton::clicked, this, &LabelEditor::changeColor);
    connect(ok, &QPushButton::clicked, this, &LabelEditor::okClicked);
}

void LabelEditor::edit(int wek)
{
    m_number = wek;
    if (!m_owner->labels().contains(wek))
        return;
    m_text->setText(m_owner->labels().label(wek).caption);
    selectCode(
        Settings::instance().value(labels::Section, QString::number(wek) + QStringLiteral("pos"), QStringLiteral("UL")));
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

void LabelEditor::timeClicked()
{
    m_text->setText(QStringLiteral("$TIME$"));
}

void LabelEditor::nowClicked()
{
    m_text->setText(QStringLiteral("$NOW$"));
}

void LabelEditor::changeFont()
{
    if (!m_owner->labels().contains(m_number))
        return;
    TextLabel& label = m_owner->labels().label(m_number);
    FontDescription font;
    font.name = label.fontName;
    font.size = label.fontSize;
    font.bold = label.bold;
    font.weight = label.bold ? 700 : 400;
    font.italic = label.italic;
    if (!chooseFont(font, this))
        return;
    label.fontName = font.name;
    label.fontSize = font.size;
    label.bold = font.bold;
    label.italic = font.italic;
}

void LabelEditor::changeColor()
{
    if (!m_owner->labels().contains(m_number))
        return;
    qint32 color = m_owner->labels().label(m_number).color;
    if (m_owner->chooseColor(color))
        m_owner->labels().label(m_number).color = color;
}

void LabelEditor::okClicked()
{
    if (m_owner->labels().contains(m_number)) {
        TextLabel& label = m_owner->labels().label(m_number);
        const QString code = selectedCode();
        const QSizeF picture = m_owner->pictureSizeTwips();
        const QSizeF extent = m_owner->labelExtent(m_number);
        placeLabel(code, picture.width(), picture.height(), extent.width(), extent.height(), label.x,
                   label.y);
        label.pos = code;
        Settings::instance().setValue(labels::Section, QString::number(m_number) + QStringLiteral("pos"), code);
        m_owner->refreshEntry(m_number);
    }
    close();
}
