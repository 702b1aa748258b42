#pragma once
// "Edit Text label": text, font, colour and placement of one label of the
// list window. Text, font and colour act on the label at once; the placement
// and its code are applied by "OK".

#include <QString>
#include <QWidget>

class LabelListWindow;
class QButtonGroup;
class QLineEdit;
class QRadioButton;

class LabelEditor : public QWidget
{
    Q_OBJECT
public:
    explicit LabelEditor(LabelListWindow* owner);

    // Edits label `labelNumber` of the owner and shows the window (not modal).
    void edit(int labelNumber);
    int labelNumber() const { return m_number; }
    QLineEdit* textBox() const { return m_text; }
    // The placement code of the selected option, empty when none is.
    QString selectedCode() const;
    void selectCode(const QString& code);

    // "Time" and "Date && Time": the whole text becomes the token.
    void useTimeToken();
    void useDateAndTimeToken();
    void changeFont();
    void changeColour();
    // "OK": places the label, stores its placement code, closes.
    void applyPlacement();

private:
    LabelListWindow* m_owner;
    int m_number = 0;
    QLineEdit* m_text = nullptr;
    QButtonGroup* m_options = nullptr;
};
